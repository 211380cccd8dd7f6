#!/bin/sh
# Runs every MIME case for ours, GMime and Python, each in its own process.
# Usage: run_mime_bench.sh BUILD_DIR (a linux-release build with KV_BENCH on)
set -eu
bench=$1/bench/kv_bench_mime
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
here=$(dirname "$0")
# The last column: MB/s by the process's own CPU time, which a busy machine
# disturbs far less than the wall-clock rate.
echo "side action case payload-MB MB/s peak-RSS-MB added-MB message-MB cpu-MB/s"
run() {
  line=$("$bench" "$@" 2>"$dir/cpu")
  echo "$line $(sed -n 's/^cpu-MB\/s //p' "$dir/cpu")"
}
for c in b64-1 b64-10 b64-50 qp-5 parts-2000; do
  for a in render read; do
    run ours "$a" "$c" "$dir"
    run gmime "$a" "$c" "$dir"
    /usr/bin/python3 "$here/python_mime_bench.py" "$a" "$c" "$dir"
  done
done
