#!/usr/bin/env bash
# Runs the configuration dialog test (config_dialog_ui.exe) under Wine on a
# virtual X display, with an aiosmtpd sink on loopback for the test mail.
#   config_dialog_ui.sh WINE EXE [gtest options]
# Exit 77 (skipped) when there is no xvfb-run: the dialog needs a display.
set -uo pipefail
wine=${1:?wine}
exe=${2:?config_dialog_ui.exe}
shift 2
source "$(dirname "$0")/../../support/servers.sh"

if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "SKIPPED: xvfb-run is not installed (package xvfb); the dialog needs an X display"
  exit 77
fi
# The texts the test compares are the English ones (Wine takes its UI language from the locale).
export LANG=C.UTF-8 LC_ALL=C.UTF-8

kv_temp_dir ui-config
trap kv_stop_servers EXIT
kv_start_smtp "$KV_DIR/mail"
export KV_SMTP_PORT KV_REFUSED_PORT=$(kv_free_port)
# Wine's drive Z: is the Unix root.
export KV_SMTP_SINK_DIR="Z:${KV_DIR//\//\\}\\mail"

# A wineserver left from a test without display would keep its desktop without one.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
xvfb-run -a -s "-screen 0 1024x768x24" "$wine" "$exe" "$@"
rc=$?
# The display goes with xvfb-run; so does the server that drew on it.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
exit $rc
