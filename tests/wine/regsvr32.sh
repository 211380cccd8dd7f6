#!/usr/bin/env bash
# regsvr32 registers orkv14.dll's class key and /u removes it again; the keys
# are read back from the Wine registry.
set -uo pipefail
wine=${1:?wine}
dll=${2:?orkv14.dll}
clsid='{DEB0E19B-DD04-4128-95A3-C4559F1B43EB}'
key="HKCR\\CLSID\\$clsid"
passed=0
failed=0
check() { # description, then the command that must succeed
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}
# The registry view of the DLL's bitness (PE machine 0x8664: 64-bit), whatever reg.exe runs.
pe=$(od -An -tu4 -j60 -N4 "$dll" | tr -d ' ')
view=$([ "$(od -An -tx2 -j$((pe + 4)) -N2 "$dll" | tr -d ' ')" = 8664 ] && echo /reg:64 || echo /reg:32)
query() { "$wine" reg query "$@" $view 2>/dev/null | tr -d '\r'; }
# "reg query" prints: <name> <type> <data>
value_is() { # key, value name (empty: default), expected data
  local args=("$1")
  if [ -n "$2" ]; then args+=(/v "$2"); else args+=(/ve); fi
  local line
  line=$(query "${args[@]}" | grep -E '^\s+\S+\s+REG_SZ' | head -n1)
  local data
  data=$(printf '%s' "$line" | sed -E 's/^\s+\S+\s+REG_SZ\s*//')
  [ "${data,,}" = "${3,,}" ] || { echo "  $1 ${2:-(default)}: '$data', expected '$3'"; return 1; }
}
present() { "$wine" reg query "$1" $view >/dev/null 2>&1; }
absent() { ! present "$1"; }

windows_path=$("$(dirname "$wine")/winepath" -w "$dll" 2>/dev/null || "$wine" winepath -w "$dll")
windows_path=$(printf '%s' "$windows_path" | tr -d '\r')

"$wine" regsvr32 /s /u "$dll" >/dev/null 2>&1
check "the key is absent before registering" absent "$key"
check "regsvr32 succeeds" "$wine" regsvr32 /s "$dll"
check "class key description" value_is "$key" "" "orkv14 mail component"
check "LoadWithoutCOM is an empty string" value_is "$key" LoadWithoutCOM ""
check "InProcServer32 names the DLL" value_is "$key\\InProcServer32" "" "$windows_path"
check "apartment threaded" value_is "$key\\InProcServer32" ThreadingModel Apartment
check "regsvr32 /u succeeds" "$wine" regsvr32 /s /u "$dll"
check "the key is gone" absent "$key"
check "unregistering twice still succeeds" "$wine" regsvr32 /s /u "$dll"
check "CLSID itself stays" present 'HKCR\CLSID'
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
