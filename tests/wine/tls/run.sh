#!/usr/bin/env bash
# Starts aiosmtpd with TLS and tls_peer.py on loopback (a throw-away CA and
# certificates made with openssl), then runs a TLS test program against them:
# under Wine, or natively when WINE is "-". A missing peer fails the run.
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

ossl() { openssl "$@" >/dev/null 2>&1 || kv_fail "openssl $1"; }
# RSA: Wine's certificate check refuses now and then an ECDSA signature that
# OpenSSL accepts (the failure came with freshly made P-256 certificates).
key=(-newkey rsa:2048 -nodes)
for ca in ca other; do
  ossl req -x509 "${key[@]}" -keyout "$dir/$ca.key" -out "$dir/$ca.pem" -days 2 -subj "/CN=kv-$ca-CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
done
serial=1
leaf() { # name, subjectAltName, days
  printf 'subjectAltName=%s\n' "$2" >"$dir/$1.ext"
  ossl req -new "${key[@]}" -keyout "$dir/$1.key" -out "$dir/$1.csr" -subj "/CN=$1"
  serial=$((serial + 1))
  ossl x509 -req -in "$dir/$1.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -set_serial "$serial" -days "$3" \
    -extfile "$dir/$1.ext" -out "$dir/$1.pem"
}
leaf good "DNS:localhost,IP:127.0.0.1" 2
leaf wrong "DNS:wrong.example" 2
leaf expired "DNS:localhost,IP:127.0.0.1" -1

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
