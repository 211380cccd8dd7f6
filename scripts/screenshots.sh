#!/usr/bin/env bash
# Screenshots of the component's dialogs, drawn by Wine on a virtual X display
# (Xvfb) and saved as PNG files to docs/screenshots/.
#
#   scripts/screenshots.sh [-b BUILD_DIR] [DIALOG...]
#
# DIALOG names a set of shots (default: all): config, editor. BUILD_DIR is a mingw-w64
# build tree (default build/mingw-x64, configured and built when needed).
# Needs wine, Xvfb and ImageMagick (import).
#
# A shot runs a Windows program that opens one dialog page, prints
# "READY left top width height" (the dialog's screen rectangle) on a line of its
# own, and holds the dialog for a few seconds; the rectangle is cut out of the
# X screen. Wine runs with a virtual desktop at the screen's origin, so screen
# and X coordinates agree and Wine draws the title bars itself. To add the shots
# of another dialog, write a function DIALOG_shots that calls `shot` for each
# and add DIALOG to `dialogs` below.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=build/mingw-x64
while getopts b: option; do
  case $option in
    b) build=$OPTARG ;;
    *) echo "usage: $0 [-b BUILD_DIR] [DIALOG...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
dialogs=(config editor)
[ $# -gt 0 ] && dialogs=("$@")

for tool in wine wineserver Xvfb import; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

if [ ! -f "$build/build.ninja" ]; then
  [ "$build" = build/mingw-x64 ] || { echo "$build is no configured build tree" >&2; exit 1; }
  cmake --preset mingw-x64 >/dev/null
fi
cmake --build "$build" --target config_dialog_ui kv_mail_editor_ui >/dev/null
out=$root/docs/screenshots
mkdir -p "$out"

# A prefix of its own (as the tests make theirs: no messaging system), with a virtual desktop.
export WINEPREFIX=$root/build/wine-prefix-screenshots WINEDEBUG=-all
work=$(mktemp -d /tmp/kv-screenshots-XXXXXX)
xvfb=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

display=99
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=:$display
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

bash tests/wine/prefix.sh "$(command -v wine)" >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 800x600 /f >/dev/null
wineserver -w

# shot NAME LANGUAGE PROGRAM [ARGUMENTS...]: PROGRAM (a Windows program) in the
# locale LANGUAGE (en or de) shows its dialog; the dialog becomes NAME.png.
shot() {
  local name=$1 language=$2
  shift 2
  local locale=C.UTF-8
  [ "$language" = de ] && locale=de_DE.UTF-8
  LANG=$locale LC_ALL=$locale wine "$@" >"$work/out" 2>"$work/err" &
  local program=$! line=
  for _ in $(seq 600); do
    line=$(grep -a -m1 '^READY' "$work/out" 2>/dev/null | tr -d '\r' || true)
    [ -n "$line" ] && break
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$line" ]; then
    echo "$name: the dialog did not come up" >&2
    cat "$work/out" "$work/err" >&2
    wait "$program" || true
    return 1
  fi
  local x y w h
  read -r _ x y w h <<<"$line"
  sleep 1 # let the last paint reach the X server
  import -window root -crop "${w}x${h}+${x}+${y}" +repage -strip "$out/$name.png"
  wait "$program" || true
  echo "$out/$name.png"
}

# The configuration dialog: provider page, SMTP and POP3 pages, the
# MAPI page, and the SMTP page in German. Flags 0x1011: provider, SMTP and POP3 pages.
config_shots() {
  local exe=$build/config_dialog_ui.exe
  shot config-provider en "$exe" --show 0x1011 SMTP provider 3
  shot config-smtp en "$exe" --show 0x1011 SMTP smtp 3
  shot config-smtp-user en "$exe" --show 0x1011 SMTP smtpuser 3
  shot config-pop3 en "$exe" --show 0x1011 SMTP pop3 3
  shot config-pop3-user en "$exe" --show 0x1011 SMTP pop3user 3
  shot config-mapi en "$exe" --show 0x1011 "Extended MAPI" mapi 3
  shot config-smtp-de de "$exe" --show 0x1011 SMTP smtp 3
}

# The mail dialog, editable and read-only form: its own script, on its own
# virtual display and prefix.
editor_shots() {
  BUILD_DIR=$build bash "$root/scripts/screenshot-editor.sh"
}

for dialog in "${dialogs[@]}"; do
  declare -F "${dialog}_shots" >/dev/null || { echo "no shots for '$dialog'" >&2; exit 2; }
  "${dialog}_shots"
done
