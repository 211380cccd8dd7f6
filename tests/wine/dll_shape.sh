#!/usr/bin/env bash
# orkv14.dll exports exactly the four entry points, undecorated, and needs no
# DLL beyond those every Windows system has.
set -uo pipefail
objdump=${1:?objdump}
dll=${2:?orkv14.dll}
failed=0
exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^[[:space:]]+\[/ {print $NF}' | sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
[ "$exports" = "$expected" ] || { echo "FAILED: exports are '$exports'"; failed=1; }
imports=$("$objdump" -p "$dll" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
for name in $imports; do
  case "$name" in
    kernel32.dll | user32.dll | advapi32.dll | ole32.dll | oleaut32.dll | version.dll | ws2_32.dll | msvcrt.dll) ;;
    secur32.dll | crypt32.dll) ;; # Schannel and certificate checks, on every Windows system
    normaliz.dll) ;; # IdnToAscii, on every Windows system since Vista
    gdi32.dll | comctl32.dll | comdlg32.dll | shell32.dll) ;; # the dialogs: part of every Windows system as well
    *) echo "FAILED: needs $name"; failed=1 ;;
  esac
done
[ "$failed" -eq 0 ]
