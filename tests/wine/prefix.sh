#!/usr/bin/env bash
# Makes a fresh Wine prefix for the tests ($WINEPREFIX, under the build tree).
# It stands for a machine without a messaging subsystem, so the MAPI selectors
# must be refused there as on Linux.
set -euo pipefail
wine=${1:?wine}
: "${WINEPREFIX:?}"
case "$WINEPREFIX" in */build/*) ;; *) echo "refusing to replace a prefix outside a build tree: $WINEPREFIX" >&2; exit 1 ;; esac
# The previous run's server may still linger on the old prefix.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
# Without the Mono and Gecko installers, which would want to download.
WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1
# Both registry views: 64- and 32-bit programs each read their own.
for view in /reg:64 /reg:32; do
  "$wine" reg add 'HKLM\Software\Microsoft\Windows Messaging Subsystem' /v MAPI /t REG_SZ /d 0 /f $view >/dev/null
done
wineserver -w
sed -i 's/^mapi=1/mapi=0/I' "$WINEPREFIX/drive_c/windows/win.ini"
echo "wine prefix ready: $WINEPREFIX"
