#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root).
set -euo pipefail
packages=(cmake ninja-build g++ clang pkg-config libpcre2-dev zlib1g-dev libgtest-dev libgmock-dev
          libbenchmark-dev libgmime-3.0-dev python3 python3-aiosmtpd dovecot-pop3d dovecot-imapd dante-server
          libssl-dev openssl libidn2-dev postfix libpython3.11-testsuite golang-github-jhillyerd-enmime-dev python3-flufl.bounce
          golang-github-gatherstars-com-jwz-dev help2man dpkg-dev file lintian)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
