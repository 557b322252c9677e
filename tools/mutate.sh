#!/usr/bin/env bash
# Asks whether the monitor's tests notice small faults: applies each one-line
# change of a list (tools/mutations.txt, or the file given) to a scratch copy
# of the tree, one at a time, builds and runs the native monitor tests, and
# prints every change they did not notice. A developer's tool; CI does not run
# it. It exits 1 when a change survived, 2 when the list does not fit the code
# (a line that matches nothing, or more than one line without an `after:`) or
# a change does not build.
#
#   tools/mutate.sh [LIST]
#
# The list holds one change a block, blocks separated by blank lines, lines
# starting with '#' ignored:
#   file:  the file, relative to the tree
#   after: (optional) text on a line before the changed one: the change goes
#          to the first line after it that holds the `line:` text
#   line:  text on the line to change (plain text, not a pattern)
#   with:  what replaces that text on that line (may be empty)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=$(realpath "${1:-$root/tools/mutations.txt}")
jobs=$(nproc)

files=() afters=() lines=() withs=()
file="" after="" line="" with="" have_with=0
flush() {
  if [ -n "$file$after$line" ] || [ "$have_with" = 1 ]; then
    if [ -z "$file" ] || [ -z "$line" ] || [ "$have_with" = 0 ]; then
      echo "mutate: $list: a change needs file:, line: and with: (near \"$file$line\")" >&2
      exit 2
    fi
    files+=("$file") afters+=("$after") lines+=("$line") withs+=("$with")
  fi
  file="" after="" line="" with="" have_with=0
}
while IFS= read -r text || [ -n "$text" ]; do
  case "$text" in
    '#'*) ;;
    '') flush ;;
    file:*) file=$(sed -E 's/^file:[[:space:]]*//' <<<"$text") ;;
    after:*) after=$(sed -E 's/^after:[[:space:]]*//' <<<"$text") ;;
    line:*) line=$(sed -E 's/^line:[[:space:]]*//' <<<"$text") ;;
    with:*) with=$(sed -E 's/^with:[[:space:]]?//' <<<"$text") have_with=1 ;;
    *) echo "mutate: $list: cannot read \"$text\"" >&2; exit 2 ;;
  esac
done <"$list"
flush
count=${#files[@]}
[ "$count" -gt 0 ] || { echo "mutate: $list holds no change" >&2; exit 2; }

# The number of the line a change goes to, or a reason on standard error.
target_line() {
  local path=$1 after=$2 line=$3 start=0 matches
  if [ -n "$after" ]; then
    start=$(grep -nF -m 1 -- "$after" "$path" | cut -d: -f1) || true
    [ -n "$start" ] || { echo "no line holds \"$after\"" >&2; return 1; }
    matches=$(tail -n "+$((start + 1))" "$path" | grep -nF -m 1 -- "$line" | cut -d: -f1) || true
    [ -n "$matches" ] || { echo "no line after \"$after\" holds \"$line\"" >&2; return 1; }
    echo $((start + matches))
    return
  fi
  matches=$(grep -nF -- "$line" "$path" | cut -d: -f1) || true
  case $(wc -w <<<"$matches") in
    0) echo "no line holds \"$line\"" >&2; return 1 ;;
    1) echo "$matches" ;;
    *) echo "more than one line holds \"$line\": add after:" >&2; return 1 ;;
  esac
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/korva-mutate.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
tree=$scratch/tree
mkdir -p "$tree"
(cd "$root" && git ls-files -co --exclude-standard) | while IFS= read -r path; do
  [ -f "$root/$path" ] && mkdir -p "$tree/$(dirname "$path")" && cp -p "$root/$path" "$tree/$path"
done

# Every change must fit the code before anything is built.
targets=()
bad=0
for ((i = 0; i < count; i++)); do
  if [ ! -f "$tree/${files[i]}" ]; then
    echo "mutate: change $((i + 1)): no file ${files[i]}" >&2
    bad=1
  elif ! targets[i]=$(target_line "$tree/${files[i]}" "${afters[i]}" "${lines[i]}" 2>"$scratch/why"); then
    echo "mutate: change $((i + 1)) in ${files[i]}: $(cat "$scratch/why")" >&2
    bad=1
  fi
done
[ "$bad" = 0 ] || exit 2

build=$scratch/build
echo "mutate: building the scratch copy in $build"
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVA_BENCHMARKS=OFF >/dev/null
build_tests() { cmake --build "$build" -j "$jobs" --target monitor_tests >"$scratch/build.log" 2>&1; }
# The tests in parallel shards; false at the first failing test.
run_tests() {
  local shards=$jobs pids=() shard ok=0
  for ((shard = 0; shard < shards; shard++)); do
    GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard \
      "$build/bin/monitor_tests" --gtest_brief=1 --gtest_fail_fast >"$scratch/test.$shard.log" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || ok=1
  done
  return $ok
}
build_tests || { tail -30 "$scratch/build.log" >&2; echo "mutate: the unchanged tree does not build" >&2; exit 2; }
run_tests || { cat "$scratch"/test.*.log >&2; echo "mutate: the unchanged tree fails its tests" >&2; exit 2; }

survived=0
broken=0
for ((i = 0; i < count; i++)); do
  path=$tree/${files[i]}
  cp -p "$path" "$scratch/original"
  n=${targets[i]}
  before=$(sed -n "${n}p" "$path")
  after_change=${before/"${lines[i]}"/"${withs[i]}"}
  # Through the environment: awk -v would read backslashes as escapes.
  changed=$after_change awk -v n="$n" 'NR == n { print ENVIRON["changed"]; next } { print }' \
    "$scratch/original" >"$path"
  label="change $((i + 1)), ${files[i]}:$n: ${lines[i]} -> ${withs[i]}"
  if ! build_tests; then
    echo "DOES NOT BUILD  $label"
    broken=$((broken + 1))
  elif run_tests; then
    echo "SURVIVED        $label"
    survived=$((survived + 1))
  else
    echo "noticed         $label"
  fi
  cp -p "$scratch/original" "$path"
  touch "$path"
done
echo "mutate: $count changes, $survived survived, $broken did not build"
[ "$broken" = 0 ] || exit 2
[ "$survived" = 0 ]
