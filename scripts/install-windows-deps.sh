#!/usr/bin/env bash
# Installs the Debian packages of the Windows stage (as root): the mingw-w64
# cross compilers and widl (mingw-w64-tools, with Wine's IDL files from
# libwine-dev) for the automation DLL's type library, zlib for mingw, Wine to
# run the DLLs (wine32 from the i386 architecture for the 32-bit ones), and
# dpkg-dev for "apt-get source" (scripts/mingw-deps.sh builds PCRE2 from
# Debian's sources). xvfb (xvfb-run) gives the dialog test a display.
set -euo pipefail
packages=(mingw-w64 mingw-w64-tools libz-mingw-w64-dev wine wine64 libwine-dev dpkg-dev cmake ninja-build
          googletest xvfb xauth)
# The automation tests talk to these, as the integration tests do.
packages+=(python3 python3-aiosmtpd dovecot-pop3d)
missing=()
for p in "${packages[@]}" wine32:i386; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
