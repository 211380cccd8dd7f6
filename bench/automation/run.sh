#!/usr/bin/env bash
# The automation benchmark (not a test): COUNT small mails over one SMTP
# connection, sent by a VBScript through orkv14auto.dll (send_many.vbs) and by
# a C++ program through orkv14.dll's own interface (send_many.cpp), under Wine
# (x64) to a loopback sink that answers at once (bench/transport/smtp_sink.cpp).
# A third side calls the automation objects early bound from C++: the layer's
# own cost without a script engine and IDispatch. Each side times its own
# loop; the sides take turns, RUNS times each. On a busy machine the best run
# of a side is the one least disturbed; the median is printed beside it.
#   bench/automation/run.sh [COUNT] [RUNS]      (1000 and 7 by default)
set -euo pipefail
cd "$(dirname "$0")/../.."
count=${1:-1000}
runs=${2:-7}
bash scripts/install-windows-deps.sh
bash scripts/mingw-deps.sh x86_64-w64-mingw32 >/dev/null
cmake --preset mingw-x64 >/dev/null
cmake --build --preset mingw-x64 --target orkv14auto kv_bench_send_many >/dev/null
build=$PWD/build/mingw-x64
windows() { printf 'Z:%s' "$1" | tr / '\\'; }

work=$(mktemp -d /tmp/kv-bench-auto-XXXXXX)
g++ -O2 -std=c++17 bench/transport/smtp_sink.cpp -o "$work/sink" -lssl -lcrypto -lpthread
export WINEPREFIX=$PWD/build/bench-wine-prefix WINEDEBUG=-all
[ -d "$WINEPREFIX" ] || WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot -i >/dev/null 2>&1
wine64=/usr/lib/wine/wine64
"$wine64" regsvr32 /s "$(windows "$build/orkv14auto.dll")"
mkfifo "$work/sink.in"
"$work/sink" <"$work/sink.in" >"$work/sink.port" &
sink=$!
exec {hold}>"$work/sink.in"
cleanup() {
  exec {hold}>&-
  wait "$sink" 2>/dev/null || true
  "$wine64" regsvr32 /s /u "$(windows "$build/orkv14auto.dll")" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -s "$work/sink.port" ] && break; sleep 0.1; done
port=$(head -n1 "$work/sink.port")

seconds() { sed -n 's/^seconds //p' | tr -d '\r'; }
for run in $(seq "$runs"); do
  "$wine64" cscript //nologo "$(windows "$PWD/bench/automation/send_many.vbs")" 127.0.0.1 "$port" "$count" |
    seconds >>"$work/script"
  wine "$build/kv_bench_send_many.exe" 127.0.0.1 "$port" "$count" | seconds >>"$work/cpp"
  wine "$build/kv_bench_send_many.exe" --automation 127.0.0.1 "$port" "$count" | seconds >>"$work/early"
  echo "run $run: script $(tail -n1 "$work/script") s, C++ $(tail -n1 "$work/cpp") s," \
       "C++ early bound through the layer $(tail -n1 "$work/early") s"
done
/usr/bin/python3 - "$work/script" "$work/cpp" "$work/early" "$count" <<'PY'
import statistics, sys
script, cpp, early = ([float(x) for x in open(p).read().split()] for p in sys.argv[1:4])
count = int(sys.argv[4])
print("%d mails a run, %d runs a side" % (count, len(script)))
for name, f in (("median", statistics.median), ("best", min)):
    s, c, e = f(script), f(cpp), f(early)
    print("%-6s C++ through orkv14.dll %.3f s | VBScript through orkv14auto.dll %.3f s (%+.1f%%)"
          " | C++ early bound through orkv14auto.dll %.3f s (%+.1f%%)"
          % (name, c, s, (s / c - 1) * 100, e, (e / c - 1) * 100))
PY
