#!/usr/bin/env bash
# Mutation testing (not part of CI; takes minutes): applies each mutation of
# tests/mutants.txt on its own, rebuilds build/mutants incrementally (the
# linux-debug settings) and runs the unit and host suites, plus the tests a
# line names. A mutant the suites still pass has survived; a line whose text
# is no longer in its file is stale. Either fails the run.
#
#   bash scripts/mutants.sh                 every mutant
#   bash scripts/mutants.sh --only 7,qp-    by number, or a piece of the name or file
#   bash scripts/mutants.sh --check         only whether every line still finds its text
#   bash scripts/mutants.sh --list          the numbered list
#   --skip-baseline  trust that the unmutated tree passes (when fixing tests)
#   --list-file F    another list;  --jobs N  build jobs
#
# The source is changed in place; the original is kept under
# build/mutants/pristine and put back on exit, however the run ends (also at
# the start of the next run, should this one be killed outright).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
list=tests/mutants.txt
only=""
check=0
show=0
baseline=1
jobs=$(nproc)
while (($#)); do
  case "$1" in
    --only) only+="${2:?--only needs a value},"; shift 2 ;;
    --only=*) only+="${1#--only=},"; shift ;;
    --check) check=1; shift ;;
    --list) show=1; shift ;;
    --skip-baseline) baseline=0; shift ;;
    --list-file) list=${2:?}; shift 2 ;;
    --jobs) jobs=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done

build=build/mutants
pristine=$build/pristine
logs=$build/logs
mkdir -p "$pristine" "$logs"

restore() {
  if [[ -f $pristine/path ]]; then
    local path
    path=$(cat "$pristine/path")
    # A fresh time stamp, so the next build compiles the original again.
    cat "$pristine/original" >"$path"
    rm -f "$pristine/path" "$pristine/original"
  fi
}
trap restore EXIT
trap 'exit 130' INT TERM HUP
restore

# Applies (or, with --check, only finds) one mutation. The text must occur
# exactly once in the file; blanks are not compared, so reformatted code
# still matches. Exit 0: done; 3: not found (stale); 4: found more than once.
mutate() {
  python3 - "$@" <<'PY'
import os, re, sys
mode, path, text, replacement = sys.argv[1:5]
def pattern(t):
    chars = [re.escape(c) for c in t if not c.isspace()]
    return re.compile(r"[ \t]*".join(chars))
p = pattern(text)
def hits(file):
    try:
        with open(file, encoding="utf-8", errors="surrogateescape", newline="") as f:
            content = f.read()
    except OSError:
        return None, []
    found = []
    start = 0
    for line in content.splitlines(keepends=True):
        found += [(start + m.start(), start + m.end()) for m in p.finditer(line)]
        start += len(line)
    return content, found
content, found = hits(path)
if content is None or not found:
    why = "file not found" if content is None else "text not found"
    elsewhere = []
    for top in ("src", "include", "tools"):
        for d, _, files in os.walk(top):
            for name in files:
                f = os.path.join(d, name)
                if f != path and hits(f)[1]:
                    elsewhere.append(f)
    print(why + ("; now in " + ", ".join(elsewhere[:3]) if elsewhere else ""))
    sys.exit(3)
if len(found) > 1:
    print("text found %d times" % len(found))
    sys.exit(4)
if mode == "apply":
    b, e = found[0]
    with open(path, "w", encoding="utf-8", errors="surrogateescape", newline="") as f:
        f.write(content[:b] + replacement + content[e:])
PY
}

# The list: name ||| file ||| text ||| replacement ||| why [||| more tests]
names=() files=() texts=() repls=() whys=() extras=()
while IFS= read -r raw || [[ -n $raw ]]; do
  [[ $raw =~ ^[[:space:]]*(#|$) ]] && continue
  line=$raw fields=()
  while [[ $line == *'|||'* ]]; do fields+=("${line%%|||*}"); line=${line#*|||}; done
  fields+=("$line")
  for i in "${!fields[@]}"; do
    f=${fields[$i]}; f=${f#"${f%%[![:space:]]*}"}; f=${f%"${f##*[![:space:]]}"}; fields[$i]=$f
  done
  if ((${#fields[@]} < 5)) || [[ -z ${fields[0]} || -z ${fields[1]} || -z ${fields[2]} || -z ${fields[4]} ]]; then
    echo "$list: malformed line: $raw" >&2; exit 2
  fi
  names+=("${fields[0]}") files+=("${fields[1]}") texts+=("${fields[2]}") repls+=("${fields[3]}")
  whys+=("${fields[4]}") extras+=("${fields[5]:-}")
done <"$list"
total=${#names[@]}

selected=()
for ((i = 0; i < total; i++)); do
  if [[ -z $only ]]; then selected+=("$i"); continue; fi
  IFS=, read -ra sels <<<"$only"
  for s in "${sels[@]}"; do
    [[ -z $s ]] && continue
    if [[ $s =~ ^[0-9]+$ && $s -eq $((i + 1)) ]] || [[ ! $s =~ ^[0-9]+$ && ( ${names[$i]} == *"$s"* || ${files[$i]} == *"$s"* ) ]]; then
      selected+=("$i"); break
    fi
  done
done
((${#selected[@]})) || { echo "no mutant selected" >&2; exit 2; }

if ((show)); then
  for i in "${selected[@]}"; do
    printf '%3d %-28s %s\n    %s\n' $((i + 1)) "${names[$i]}" "${files[$i]}" "${whys[$i]}"
  done
  exit 0
fi

label() { printf '[%2d/%d] %-28s' "$1" "$total" "$2"; }

if ((check)); then
  bad=0
  for i in "${selected[@]}"; do
    if ! out=$(mutate check "${files[$i]}" "${texts[$i]}" "${repls[$i]}"); then
      echo "$(label $((i + 1)) "${names[$i]}") stale: $out (${files[$i]})"; bad=$((bad + 1))
    fi
  done
  echo "${#selected[@]} checked, $bad stale"
  exit $((bad > 0))
fi

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake --preset linux-debug -B "$build" >/dev/null
fi
base_targets=(kv_unit_tests kv_host_tests)
base_tests="unit|host"

# Builds and runs the suites; 0 when everything passes. The log gets both.
run_suites() { # log extra-tests
  local log=$1 extra=$2 targets=("${base_targets[@]}") tests=$base_tests
  if [[ -n $extra ]]; then targets=(all); tests+="|${extra// /|}"; fi
  if ! cmake --build "$build" -j "$jobs" --target "${targets[@]}" >>"$log" 2>&1; then return 2; fi
  # One failing case is enough: the first failure ends the run.
  GTEST_FAIL_FAST=1 ctest --test-dir "$build" -R "^($tests)\$" --stop-on-failure --timeout 300 \
    --output-on-failure >>"$log" 2>&1 || return 1
  # A suite that does not exist here, or skips itself, would pass by running nothing.
  local ran
  ran=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed ' "$log" || true)
  (( ran >= $(tr '|' '\n' <<<"$tests" | wc -l) )) || return 3
  return 0
}

started=$(date +%s)
if ((baseline)); then
  log=$logs/00-baseline.log
  : >"$log"
  echo "baseline: building and running the suites on the unchanged tree (log $log)"
  all_extras=$(printf '%s\n' "${extras[@]}" | tr ' ' '\n' | sort -u | grep -v '^$' | tr '\n' ' ' || true)
  set +e; run_suites "$log" "${all_extras% }"; rc=$?; set -e
  if ((rc != 0)); then echo "baseline fails (rc $rc): see $log" >&2; exit 2; fi
fi

killed=0 survived=() stale=() broken=()
for i in "${selected[@]}"; do
  n=$((i + 1)) name=${names[$i]} file=${files[$i]}
  log=$(printf '%s/%02d-%s.log' "$logs" "$n" "$name")
  printf '%s\n%s\n-> %s\n' "$file" "${texts[$i]}" "${repls[$i]}" >"$log"
  t0=$(date +%s)
  if ! cp "$file" "$pristine/original" 2>/dev/null; then
    echo "$(label $n "$name") stale: file not found ($file)"; stale+=("$n $name"); continue
  fi
  echo "$file" >"$pristine/path"
  if ! out=$(mutate apply "$file" "${texts[$i]}" "${repls[$i]}"); then
    restore
    echo "$(label $n "$name") stale: $out ($file)"; stale+=("$n $name"); continue
  fi
  set +e; run_suites "$log" "${extras[$i]}"; rc=$?; set -e
  restore
  secs=$(($(date +%s) - t0))
  case $rc in
    0) echo "$(label $n "$name") SURVIVED  (${secs}s) $file"; survived+=("$n $name") ;;
    1) by=$(grep -m1 -oE '^\[  FAILED  \] [A-Za-z0-9_/.]+' "$log" | cut -c14- || true)
       [[ -z $by ]] && by=$(grep -m1 -oE '(Timeout|SEGFAULT|Subprocess aborted|Exception)' "$log" || true)
       echo "$(label $n "$name") killed    (${secs}s) by ${by:-a failing test}"; killed=$((killed + 1)) ;;
    2) echo "$(label $n "$name") BROKEN    (${secs}s) does not build: see $log"; broken+=("$n $name") ;;
    *) echo "$(label $n "$name") BROKEN    (${secs}s) a suite did not run: see $log"; broken+=("$n $name") ;;
  esac
done

elapsed=$(($(date +%s) - started))
echo
echo "mutants: ${#selected[@]} run, $killed killed, ${#survived[@]} survived, ${#stale[@]} stale, ${#broken[@]} broken" \
     "($((elapsed / 60))m$((elapsed % 60))s)"
for s in "${survived[@]}"; do echo "  survived: $s"; done
for s in "${stale[@]}"; do echo "  stale:    $s"; done
for s in "${broken[@]}"; do echo "  broken:   $s"; done
# Back to the unchanged build, so that a build here afterwards is not a mutant's.
cmake --build "$build" -j "$jobs" --target "${base_targets[@]}" >/dev/null 2>&1 || true
((${#survived[@]} + ${#stale[@]} + ${#broken[@]} == 0))
