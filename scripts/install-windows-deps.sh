#!/usr/bin/env bash
# Installs the Debian packages of the Windows stage (as root): the mingw-w64
# cross compilers, zlib for mingw, Wine to run the DLL, and dpkg-dev for
# "apt-get source" (scripts/mingw-deps.sh builds PCRE2 from Debian's sources).
# xvfb (xvfb-run) gives the dialog test a display.
set -euo pipefail
packages=(mingw-w64 libz-mingw-w64-dev wine wine64 dpkg-dev cmake ninja-build googletest xvfb xauth)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
