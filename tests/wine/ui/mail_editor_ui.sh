#!/usr/bin/env bash
# Runs the mail dialog test on a virtual X server; skipped (77) without xvfb-run.
set -euo pipefail
wine=${1:?wine}
exe=${2:?test program}
if ! command -v xvfb-run >/dev/null; then
    echo "xvfb-run not found: mail dialog test skipped"
    exit 77
fi
# The test prefix has no Gecko: the HTML page stays empty, and Wine must not
# offer to download one.
export WINEDLLOVERRIDES="mshtml="
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" "$wine" "$exe" || status=$?
# The X server is gone now; no process of the prefix may stay attached to it.
wineserver -k >/dev/null 2>&1 || true
exit "$status"
