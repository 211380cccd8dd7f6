#!/usr/bin/env bash
# Runs the configuration dialog test (config_dialog_ui.exe) under Wine on a
# virtual X display, with an aiosmtpd sink on loopback for the test mail.
#   config_dialog_ui.sh WINE EXE SERVERS_DIR [gtest options]
# Exit 77 (skipped) when there is no xvfb-run: the dialog needs a display.
set -uo pipefail
wine=${1:?wine}
exe=${2:?config_dialog_ui.exe}
servers=${3:?tests/integration/servers}
shift 3

if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "SKIPPED: xvfb-run is not installed (package xvfb); the dialog needs an X display"
  exit 77
fi

# The texts the test compares are the English ones (Wine takes its UI language from the locale).
export LANG=C.UTF-8 LC_ALL=C.UTF-8

work=$(mktemp -d /tmp/kv-ui-config-XXXXXX)
sink_pid=
cleanup() {
  if [ -n "$sink_pid" ]; then
    kill "$sink_pid" 2>/dev/null
    wait "$sink_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The sink prints its port on the first line and runs while its input stays open:
# a FIFO held by this script (the sink is ended by its id, not by closing the FIFO,
# since Wine's processes inherit the descriptor).
# The system's Python, as the integration fixtures use it (it has python3-aiosmtpd).
if /usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null; then
  mkdir "$work/mail"
  mkfifo "$work/in"
  /usr/bin/python3 "$servers/smtp_sink.py" "$work/mail" <"$work/in" >"$work/port" &
  sink_pid=$!
  exec {hold}>"$work/in"
  port=
  for _ in $(seq 200); do
    port=$(head -n1 "$work/port" 2>/dev/null)
    [ -n "$port" ] && break
    sleep 0.1
  done
  if [ -n "$port" ]; then
    export KV_SMTP_SINK_PORT=$port
    # Wine's drive Z: is the Unix root.
    export KV_SMTP_SINK_DIR="Z:${work//\//\\}\\mail"
  else
    echo "note: the SMTP sink did not start, the test mail to a server is skipped"
  fi
else
  echo "note: python3-aiosmtpd missing, the test mail to a server is skipped"
fi

# A wineserver left from a test without display would keep its desktop without one.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
xvfb-run -a -s "-screen 0 1024x768x24" "$wine" "$exe" "$@"
rc=$?
# The display goes with xvfb-run; so does the server that drew on it.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
exit $rc
