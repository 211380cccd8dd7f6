#!/usr/bin/env bash
# Starts aiosmtpd with TLS and tls_peer.py on loopback (a throw-away CA and
# certificates made with openssl), then runs a TLS test program against them:
# under Wine, or natively when WINE is "-".
#   usage: run.sh WINE TEST_EXE SERVERS_DIR [gtest arguments]
set -uo pipefail
wine=${1:?wine}
exe=${2:?test executable}
servers=${3:?directory of smtp_sink.py}
shift 3
# The system's Python, which has aiosmtpd from its package.
python=/usr/bin/python3
# 77: skipped (SKIP_RETURN_CODE).
command -v openssl >/dev/null || { echo "SKIPPED: no openssl"; exit 77; }
"$python" -c 'import aiosmtpd' 2>/dev/null || { echo "SKIPPED: no aiosmtpd"; exit 77; }

dir=$(mktemp -d /tmp/kv-wine-tls-XXXXXX)
pids=()
fds=()
cleanup() {
  local fd pid
  for fd in "${fds[@]}"; do exec {fd}>&-; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$dir"
}
trap cleanup EXIT

ossl() { openssl "$@" >/dev/null 2>&1 || { echo "openssl $1 failed"; exit 1; }; }
# RSA: Wine's certificate check refuses now and then an ECDSA signature that
# OpenSSL accepts (the failure came with freshly made P-256 certificates).
key=(-newkey rsa:2048 -nodes)
ossl req -x509 "${key[@]}" -keyout "$dir/ca.key" -out "$dir/ca.pem" -days 2 -subj /CN=kv-wine-CA \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
ossl req -x509 "${key[@]}" -keyout "$dir/other.key" -out "$dir/other.pem" -days 2 -subj /CN=kv-other-CA \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
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

serve() { # name, command...
  local name=$1
  shift
  mkfifo "$dir/$name.in"
  "$@" <"$dir/$name.in" >"$dir/$name.port" 2>"$dir/$name.log" &
  pids+=($!)
  # Holding the write end keeps the server running; closing it ends the server.
  local fd
  exec {fd}>"$dir/$name.in"
  fds+=("$fd")
  for _ in $(seq 100); do
    [ -s "$dir/$name.port" ] && break
    sleep 0.1
  done
  local port
  port=$(head -n1 "$dir/$name.port")
  [ -n "$port" ] || { echo "the $name server did not start:"; cat "$dir/$name.log"; exit 1; }
  export "KV_TLS_PORT_$name=$port"
}
sink() { # name, tls mode, certificate
  mkdir -p "$dir/$1"
  serve "$1" "$python" "$servers/smtp_sink.py" "$dir/$1" tim tanstaaf --tls "$2" "$dir/$3.pem" "$dir/$3.key"
}
sink starttls starttls good
sink implicit implicit good
sink wrong starttls wrong
sink expired implicit expired

serve peer "$python" "$(dirname "$0")/tls_peer.py" "$dir/good.pem" "$dir/good.key"
# Implicit TLS, dropped without close_notify once the mail text is in (one client).
serve drop "$python" "$servers/tls_drop.py" "$dir/good.pem" "$dir/good.key" after-data
export KV_TLS_PEER_PORT=$KV_TLS_PORT_peer

if [ "$wine" = - ]; then
  export KV_TLS_DIR=$dir
  "$exe" "$@"
else
  KV_TLS_DIR="Z:$(printf '%s' "$dir" | tr / '\\')"
  export KV_TLS_DIR
  # The certificates take seconds: a wineserver left by the test before may
  # be on its way out just now, and a client meeting it fails ("recvmsg:
  # Connection reset by peer"). Let it go first.
  wineserver -w >/dev/null 2>&1 || true
  "$wine" "$exe" "$@"
fi
