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
# Here every peer is installed: a test that misses one fails instead of skipping.
export KV_REQUIRE_PEERS=1
jobs=$(nproc)
for preset in linux-debug linux-asan; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  log=build/$preset/ctest.log
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --preset "$preset" -j "$jobs" | tee "$log"
  # A test that could not run is not a pass.
  if grep -q '(Skipped)' "$log"; then echo "skipped tests (see above) fail the run" >&2; exit 1; fi
done
echo "=== packaging"
bash tests/packaging/run.sh
bash scripts/test-windows.sh
count() { git ls-files -- "$@" | grep -E '(\.(c|cc|cpp|h|hpp|py|sh|cmake)|CMakeLists\.txt)$' | xargs -r cat | grep -cv '^\s*$'; }
tests=$(count tests) code=$(count src include tools automation)
echo "=== test share: tests $tests non-blank lines / code (src include tools automation) $code = $((100 * tests / code))%"
