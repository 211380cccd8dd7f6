#!/usr/bin/env bash
# Runs the provider tests with the stand-in MAPI32.DLL found beside them: for
# this run only the prefix announces a messaging subsystem, taken back even
# when the run crashes, so the other Wine tests keep seeing a machine without one.
set -uo pipefail
wine=${1:?wine}
exe=${2:?test executable}
subsystem='HKLM\Software\Microsoft\Windows Messaging Subsystem'
# Both registry views: with wine32 installed, Debian's wine runs the 32-bit reg.exe.
announce() {
  for view in /reg:64 /reg:32; do
    "$wine" reg add "$subsystem" /v MAPI /t REG_SZ /d "$1" /f "$view" >/dev/null || return 1
  done
}
trap 'announce 0 2>/dev/null' EXIT
announce 1 || exit 1
WINEDLLOVERRIDES="mapi32=n${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}" "$wine" "$exe"
