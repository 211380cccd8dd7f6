#!/usr/bin/env bash
# Pictures of the mail dialog, editable and read-only form, as
# docs/screenshots/editor-editable.png and editor-readonly.png. Runs the
# mingw-x64 build's kv_mail_editor_ui.exe under Wine on a virtual X server
# (a Wine desktop of its own, so that Wine draws the window frames) and takes
# each picture with ImageMagick's import. Build first:
#   cmake --preset mingw-x64 && cmake --build --preset mingw-x64 -j2
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/mingw-x64}
case $build in /*) ;; *) build=$root/$build ;; esac
exe=$build/kv_mail_editor_ui.exe
out=$root/docs/screenshots

if [ "${1:-}" != --inside ]; then
    [ -f "$exe" ] || { echo "not built: $exe" >&2; exit 2; }
    for tool in wine xvfb-run import; do
        command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
    done
    # A prefix of its own: the test prefix belongs to ctest.
    export WINEPREFIX=$root/build/wine-prefix-screenshots-editor WINEDEBUG=-all WINEDLLOVERRIDES="mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wine wineboot -i >/dev/null 2>&1
        wineserver -w
    fi
    mkdir -p "$out"
    status=0
    xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --inside || status=$?
    wineserver -k >/dev/null 2>&1 || true
    exit "$status"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wine explorer /desktop=editor,1280x1024 "$exe" --screenshot "$(winepath -w "$work")" &
pid=$!
for form in editable readonly; do
    ready=$work/editor-$form.ready
    for _ in $(seq 600); do
        [ -s "$ready" ] && break
        sleep 0.1
    done
    if [ ! -s "$ready" ]; then
        echo "the $form form did not come up" >&2
        kill "$pid" 2>/dev/null || true
        exit 1
    fi
    sleep 2 # painted
    read -r x y w h <"$ready"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/editor-$form.png"
    echo "$out/editor-$form.png"
    rm -f "$ready"
done
wait "$pid"
