#!/usr/bin/env bash
# Runs the provider tests with the stand-in MAPI32.DLL found beside them: for
# this run only the prefix announces a messaging subsystem, and whatever the
# run registered is taken back even when it crashes, so the other Wine tests
# keep seeing a machine without one.
set -uo pipefail
wine=${1:?wine}
exe=${2:?test executable}
subsystem='HKLM\Software\Microsoft\Windows Messaging Subsystem'
# Both registry views: with wine32 installed, Debian's wine runs the 32-bit reg.exe.
views=(/reg:64 /reg:32)
restore() {
  for view in "${views[@]}"; do
    "$wine" reg add "$subsystem" /v MAPI /t REG_SZ /d 0 /f "$view" >/dev/null 2>&1
    for clsid in '{CD000001-8B95-11D1-82DB-00C04FB1625D}' '{CD000002-8B95-11D1-82DB-00C04FB1625D}'; do
      "$wine" reg delete "HKCR\\CLSID\\$clsid" /f "$view" >/dev/null 2>&1
    done
  done
}
trap restore EXIT
for view in "${views[@]}"; do
  "$wine" reg add "$subsystem" /v MAPI /t REG_SZ /d 1 /f "$view" >/dev/null || exit 1
done
WINEDLLOVERRIDES="mapi32=n${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}" "$wine" "$exe"
