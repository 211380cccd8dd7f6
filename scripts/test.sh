#!/usr/bin/env bash
# The full test suite: installs what it needs, builds the debug and the
# ASan+UBSan configurations, and runs every test in both; then the library as
# installed and packaged (tests/packaging/run.sh); then the Windows stage (the
# cross-built DLL under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
echo "=== layers"
python3 scripts/check-layers.py
bash scripts/setup-test-accounts.sh
jobs=$(nproc)
for preset in linux-debug linux-asan; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --preset "$preset" -j "$jobs"
done
echo "=== packaging"
bash tests/packaging/run.sh
bash scripts/test-windows.sh
