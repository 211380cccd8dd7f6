#!/usr/bin/env bash
# Registration under Wine of orkv14.dll (regsvr32) and of orkv14auto.dll, per
# machine (regsvr32) and per user (regsvr32 /n /i:user): the keys written and
# that unregistering leaves both registry trees as they were. What a script and
# an MTA client create once it is registered per machine is run.sh's.
#   register.sh x64|x86 AUTOMATION-DLL CORE-DLL
set -uo pipefail
arch=${1:?x64 or x86} dll=$(realpath "${2:?orkv14auto.dll}") core=$(realpath "${3:?orkv14.dll}")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../support/servers.sh"
kv_native_wine "$arch"
native=$KV_WINE
view=/reg:32 platform=win32
[ "$arch" = x64 ] && view=/reg:64 platform=win64
path=$(kv_windows_path "$dll")
kv_temp_dir "auto-register-$arch"
dir=$KV_DIR
trap kv_stop_servers EXIT

reg() { "$native" reg "$@" "$view" 2>/dev/null | tr -d '\r'; }
# A whole tree as text, sorted: "reg export" writes UTF-16.
tree() { # key, file
  "$native" reg export "$1" "$(kv_windows_path "$2")" /y "$view" >/dev/null 2>&1
  iconv -f UTF-16 -t UTF-8 "$2" | tr -d '\r' | sort >"$2.sorted"
}
is() { # key, value name ("" for the default), expected data of a REG_SZ that must be there
  local which=(/ve) got
  [ -z "$2" ] || which=(/v "$2")
  got=$(reg query "$1" "${which[@]}" | grep -m1 -E '^\s+\S+\s+REG_SZ') || { echo "  $1 ${2:-(default)}: none"; return 1; }
  got=$(printf '%s' "$got" | sed -E 's/^\s+\S+\s+REG_SZ\s*//')
  [ "${got,,}" = "${3,,}" ] || { echo "  $1 ${2:-(default)}: '$got', expected '$3'"; return 1; }
}
absent() { ! reg query "$1" >/dev/null; }

smtp='{9456E7CB-C314-44E8-A00B-221AF5A2350C}'
library='{10C5EF17-AA52-4DB4-8DAF-F276F4590559}'
mail='{D9F02A95-527E-4186-83B8-8FCDA79CBE6C}'
events='{7702456D-3953-4743-A513-B414C74AC50A}'
keys() { # root: the keys a registration writes there
  local classes=$1\\Software\\Classes
  is "$classes\\CLSID\\$smtp\\InprocServer32" "" "$path" &&
    is "$classes\\CLSID\\$smtp\\InprocServer32" ThreadingModel Apartment &&
    is "$classes\\Orkv14.SMTP\\CLSID" "" "$smtp" &&
    is "$classes\\Orkv14.SMTP\\CurVer" "" Orkv14.SMTP.1 &&
    is "$classes\\TypeLib\\$library\\1.0\\0\\$platform" "" "$path" &&
    is "$classes\\Interface\\$mail\\ProxyStubClsid32" "" '{00020424-0000-0000-C000-000000000046}' &&
    is "$classes\\Interface\\$events\\ProxyStubClsid32" "" '{00020420-0000-0000-C000-000000000046}'
}
corekey='HKLM\Software\Classes\CLSID\{DEB0E19B-DD04-4128-95A3-C4559F1B43EB}'
corekeys() {
  is "$corekey" "" "orkv14 mail component" && is "$corekey" LoadWithoutCOM "" &&
    is "$corekey\\InProcServer32" "" "$(kv_windows_path "$core")" &&
    is "$corekey\\InProcServer32" ThreadingModel Apartment
}

for d in "$core" "$dll"; do "$native" regsvr32 /s /u "$(kv_windows_path "$d")" >/dev/null 2>&1; done
"$native" regsvr32 /s /u /n /i:user "$path" >/dev/null 2>&1
# As on Windows, the user's classes key exists; the script host has made its
# own registrations (it does at its first run) before the trees are taken.
"$native" reg add 'HKCU\Software\Classes' /f "$view" >/dev/null 2>&1
printf '\n' >"$dir/empty.vbs"
"$native" cscript //nologo "$(kv_windows_path "$dir/empty.vbs")" >/dev/null 2>&1
tree 'HKLM\Software\Classes' "$dir/machine-before"
tree 'HKCU\Software\Classes' "$dir/user-before"

kv_check "regsvr32 orkv14.dll succeeds" "$native" regsvr32 /s "$(kv_windows_path "$core")"
kv_check "the core's class key" corekeys
kv_check "regsvr32 /u orkv14.dll succeeds" "$native" regsvr32 /s /u "$(kv_windows_path "$core")"
# Per machine, then per user. Wine 8 does not merge HKCU\Software\Classes into
# HKEY_CLASSES_ROOT, so no script under Wine can create a class registered per user; Windows can.
for scope in "HKLM machine HKCU" "HKCU user HKLM"; do
  read -r root name other <<<"$scope"
  as=() && [ "$name" = user ] && as=(/n /i:user)
  kv_check "regsvr32 ${as[*]} succeeds" "$native" regsvr32 /s "${as[@]}" "$path"
  kv_check "the keys per $name" keys "$root"
  kv_check "none in $other" absent "$other\\Software\\Classes\\CLSID\\$smtp"
  kv_check "regsvr32 /u ${as[*]} succeeds" "$native" regsvr32 /s /u "${as[@]}" "$path"
  tree "$root\\Software\\Classes" "$dir/$name-after"
  kv_check "unregistering leaves the $name's classes as they were" diff -u "$dir/$name-before.sorted" "$dir/$name-after.sorted"
done
for d in "$core" "$dll"; do
  kv_check "unregistering $(basename "$d") twice still succeeds" "$native" regsvr32 /s /u "$(kv_windows_path "$d")"
done

echo "$kv_failed failed"
[ "$kv_failed" -eq 0 ]
