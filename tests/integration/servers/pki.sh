#!/bin/sh
# A throw-away CA (DIR/ca.pem), one that issued nothing (other.pem) and server
# certificates NAME.pem with NAME.key: "good" (localhost, 127.0.0.1, ::1),
# "wrong" (another host only), "expired" (yesterday). Keys are P-256, or RSA with
# "rsa": Wine refuses now and then an ECDSA signature OpenSSL accepts. pki.sh DIR [rsa]
set -e
cd "$1"
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
[ "${2:-}" != rsa ] || key="-newkey rsa:2048 -nodes"
for ca in ca other; do
  openssl req -x509 $key -keyout $ca.key -out $ca.pem -days 2 -subj "/CN=kv-$ca-CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
done
serial=1
leaf() { # name, subjectAltName, days
  echo "subjectAltName=$2" >"$1.ext"
  openssl req -new $key -keyout "$1.key" -out "$1.csr" -subj "/CN=$1"
  serial=$((serial + 1))
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -set_serial $serial -days "$3" -extfile "$1.ext" -out "$1.pem"
  chmod 644 "$1.key"
}
right=DNS:localhost,IP:127.0.0.1,IP:::1
leaf good $right 2
leaf wrong DNS:wrong.example 2
leaf expired $right -1
