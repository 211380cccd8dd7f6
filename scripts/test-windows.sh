#!/usr/bin/env bash
# The Windows stage: cross-compiles orkv14.dll and orkv14auto.dll with
# mingw-w64 (x64 and x86), then, under Wine in a throw-away prefix under
# build/, checks their exports, registers and unregisters them with regsvr32,
# runs the host suite against the core and drives the automation objects from
# VBScript, JScript and C++ clients. The x86 build runs under 32-bit Wine
# (wine32) the tests its preset lists: the host suite and the automation tests.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
bash scripts/install-windows-deps.sh
jobs=$(nproc)
export WINEDEBUG=-all
for preset in mingw-x64 mingw-x86; do
  echo "=== $preset"
  triple=$([ "$preset" = mingw-x64 ] && echo x86_64-w64-mingw32 || echo i686-w64-mingw32)
  bash scripts/mingw-deps.sh "$triple" >/dev/null
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset"
done
echo "windows stage: $(($(date +%s) - start)) s"
