#!/usr/bin/env bash
# The Windows stage: cross-compiles orkv14.dll with mingw-w64 (x64 and x86),
# then, under Wine in a throw-away prefix under build/, checks its exports,
# registers and unregisters it with regsvr32 and runs the host suite against it.
# Wine here runs 64-bit programs only, so the x86 build is checked for its shape.
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
