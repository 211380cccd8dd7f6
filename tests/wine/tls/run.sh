#!/usr/bin/env bash
# Starts aiosmtpd with TLS and tls_peer.py on loopback (certificates from
# tests/integration/servers/pki.sh), then runs a TLS test program against
# them: under Wine, or natively when WINE is "-". A missing peer fails the run.
#   usage: run.sh WINE TEST_EXE [gtest arguments]
set -uo pipefail
wine=${1:?wine}
exe=${2:?test executable}
shift 2
source "$(dirname "$0")/../../support/servers.sh"
command -v openssl >/dev/null || kv_fail "openssl is missing"
kv_temp_dir wine-tls
dir=$KV_DIR
trap kv_stop_servers EXIT

sh "$kv_servers/pki.sh" "$dir" rsa >"$dir/pki.log" 2>&1 || { cat "$dir/pki.log"; kv_fail "pki.sh"; }
sink() { # name, tls mode, certificate
  kv_start_smtp "$dir/$1" tim tanstaaf --tls "$2" "$dir/$3.pem" "$dir/$3.key"
  export "KV_TLS_PORT_$1=$KV_SMTP_PORT"
}
sink starttls starttls good
sink implicit implicit good
sink wrong starttls wrong
sink expired implicit expired
kv_serve "$dir/peer" "$kv_python" "$(dirname "$0")/tls_peer.py" "$dir/good.pem" "$dir/good.key"
export KV_TLS_PEER_PORT=$KV_PORT

if [ "$wine" = - ]; then
  KV_TLS_DIR=$dir "$exe" "$@"
else
  KV_TLS_DIR=$(kv_windows_path "$dir")
  export KV_TLS_DIR
  # The certificates take seconds: a wineserver left by the test before may
  # be on its way out just now, and a client meeting it fails ("recvmsg:
  # Connection reset by peer"). Let it go first.
  wineserver -w >/dev/null 2>&1 || true
  "$wine" "$exe" "$@"
fi
