#!/usr/bin/env bash
# Runs a dialog test (config_dialog_ui.exe, kv_mail_editor_ui.exe) under Wine
# on a virtual X display, with an aiosmtpd sink on loopback for the test mail.
#   run.sh WINE EXE [gtest options]
set -uo pipefail
wine=${1:?wine} exe=${2:?test program}
shift 2
source "$(dirname "$0")/../../support/servers.sh"
command -v xvfb-run >/dev/null || kv_fail "xvfb-run is not installed (package xvfb): the dialogs need an X display"
# The texts compared are the English ones (Wine's UI language is the locale's).
# Without Gecko the HTML page stays empty, and Wine must not offer to download one.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 WINEDLLOVERRIDES="mshtml="

kv_temp_dir ui
trap kv_stop_servers EXIT
kv_start_smtp "$KV_DIR/mail"
export KV_SMTP_PORT KV_SMTP_SINK_DIR=$(kv_windows_path "$KV_DIR/mail")

# A wineserver left from a test without display would keep its desktop without
# one; the display goes with xvfb-run, and so must the server that drew on it.
stop_wineserver() { wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; }
stop_wineserver
trap 'stop_wineserver; kv_stop_servers' EXIT
xvfb-run -a -s "-screen 0 1280x1024x24" "$wine" "$exe" "$@"
