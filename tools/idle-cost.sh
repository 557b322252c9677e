#!/usr/bin/env bash
# What korvamon costs while nothing happens: it watches the module simulator,
# which streams 28-character frames at 9600 baud, and after a settling time
# the script measures for a while
#  - its processor share of one core, from the nanoseconds each of its threads
#    ran (/proc/<pid>/task/*/schedstat; clock ticks are too coarse for this),
#  - its wake-ups a second: the times its threads blocked and woke again
#    (voluntary context switches), in all and per thread,
#  - its peak resident set (VmHWM),
# and then how long a switch to battery takes to reach its log file (the
# median of five switches, each followed by the return to mains).
#
# With --compare COMMIT the build of that commit (built once into
# build-idle-cost/<commit>) runs beside this tree's build, each on its own
# simulator, in the same minute, and the ratios are printed. With --runs N
# every figure is the median of N runs.
#   tools/idle-cost.sh [--compare COMMIT] [--runs N] [--seconds S] [--settle S]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=60
settle=5
runs=1
compare=
while [ $# -gt 0 ]; do
  case $1 in
    --compare) compare=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --settle) settle=$2; shift 2 ;;
    *) echo "usage: idle-cost.sh [--compare COMMIT] [--runs N] [--seconds S] [--settle S]" >&2
       exit 2 ;;
  esac
done

# This tree's build folder keeps its settings; a new one gets the tests' own.
if [ ! -f "$root/build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$root/build" --target korvamon korva_languages korvasim >/dev/null
simulator_program=$root/build/bin/korvasim

labels=(this)
bins=("$root/build/bin")
if [ -n "$compare" ]; then
  commit=$(git -C "$root" rev-parse --verify "$compare^{commit}")
  base=$root/build-idle-cost/$commit
  if [ ! -x "$base/build/bin/korvamon" ]; then
    echo "idle-cost: building $compare (${commit:0:10}) in $base"
    rm -rf "$base"
    mkdir -p "$base/source"
    git -C "$root" archive "$commit" | tar -x -C "$base/source"
    cmake -S "$base/source" -B "$base/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DKORVA_BENCHMARKS=OFF >/dev/null
    cmake --build "$base/build" --target korvamon korva_languages >/dev/null
  fi
  labels+=("${commit:0:10}")
  bins+=("$base/build/bin")
fi

work=$(mktemp -d)
monitors=()
feeds=()
# Ends the korvamons, then the simulators: "quit", or the end of their input.
stop_all() {
  for pid in "${monitors[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  for fd in "${feeds[@]}"; do
    echo quit >&"$fd" || true
    eval "exec $fd>&-"
  done
  wait
  monitors=()
  feeds=()
}
trap 'stop_all; rm -rf "$work"' EXIT

resting='*****\r\nBUFRD\r\nDC_OK\r\nBA>85\r\n'
battery='*BAT*\r\nBUFRD\r\nDC_LO\r\nBA>85\r\n'

# Starts simulator and korvamon number $1 from bin folder $2; the simulator
# takes its commands on descriptor 10 + $1.
start_pair() {
  local n=$1 bin=$2 dir=$work/$1
  mkdir -p "$dir/app" "$dir/lock"
  mkfifo "$dir/in"
  "$simulator_program" <"$dir/in" >"$dir/sim.out" 2>"$dir/sim.err" &
  eval "exec $((10 + n))>\"$dir/in\""
  feeds+=($((10 + n)))
  for _ in $(seq 50); do
    [ -s "$dir/sim.out" ] && break
    sleep 0.1
  done
  local path
  path=$(head -n 1 "$dir/sim.out")
  [ -n "$path" ] || { echo "idle-cost: the simulator did not start" >&2; exit 1; }
  echo "frame $resting" >&$((10 + n))
  cp "$bin/korvamon" "$dir/app/"
  cp -r "$bin/ENG" "$dir/app/"
  printf '[CHECK]\r\nLanguage=E\r\nHistoryPath=%s\r\nDC_LOW_ShutDown=0\r\n[COM]\r\nCOMPORT=1\r\n' \
    "$dir/history.log" >"$dir/app/korvamon.INI"
  KORVA_COM1=$path KORVA_LOCK_DIR="$dir/lock" "$dir/app/korvamon" >"$dir/korvamon.out" 2>&1 &
  monitors+=($!)
  echo "$path" >"$dir/path"
}

# Per thread: tid, nanoseconds on a processor, voluntary context switches.
sample() {
  local task
  for task in /proc/"$1"/task/*; do
    printf '%s %s %s\n' "${task##*/}" "$(cut -d' ' -f1 "$task/schedstat")" \
      "$(awk '/^voluntary_ctxt_switches/ { print $2 }' "$task/status")"
  done
}

# The lines of log $1 that match $2.
count() { grep -ac -- "$2" "$1" || true; }

# Waits, at most 3 s, until the log holds more than $3 lines matching $2.
log_grows() {  # log, pattern, lines before
  for _ in $(seq 300); do
    [ "$(count "$1" "$2")" -gt "$3" ] && return 0
    sleep 0.01
  done
  return 1
}

# Milliseconds from each switch to battery to its line in the log, one a line.
battery_latencies() {  # pair number
  local log=$work/$1/history.log fd=$((10 + $1)) before start
  for _ in 1 2 3 4 5; do
    before=$(count "$log" '\*BAT\* /')
    start=$(date +%s%N)
    echo "frame $battery" >&"$fd"
    log_grows "$log" '\*BAT\* /' "$before" || return 0
    echo $((($(date +%s%N) - start) / 1000000))
    before=$(count "$log" 'No battery operation')
    echo "frame $resting" >&"$fd"
    log_grows "$log" 'No battery operation' "$before" || return 0
  done
}

median() { tr ' ' '\n' | awk NF | sort -g | awk '{ v[NR] = $1 } END {
  if (NR == 0) print "none"; else if (NR % 2) print v[(NR + 1) / 2];
  else printf "%.4g\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A cpu wakes rss latency
echo "idle-cost: 28-character frames at 9600 baud; ${settle} s settling, ${seconds} s measured, $runs run(s)"
for run in $(seq "$runs"); do
  for i in "${!labels[@]}"; do
    rm -rf "${work:?}/$i"
    start_pair "$i" "${bins[$i]}"
  done
  sleep "$settle"
  for i in "${!labels[@]}"; do
    pid=${monitors[$i]}
    path=$(cat "$work/$i/path")
    if ! ls -l "/proc/$pid/fd" 2>/dev/null | grep -q -- "-> $path\$"; then
      echo "idle-cost: korvamon (${labels[$i]}) did not open COM1 ($path)" >&2
      cat "$work/$i/korvamon.out" >&2
      exit 1
    fi
    sample "$pid" >"$work/$i/before"
  done
  begin=$(date +%s%N)
  sleep "$seconds"
  for i in "${!labels[@]}"; do
    sample "${monitors[$i]}" >"$work/$i/after"
  done
  end=$(date +%s%N)
  for i in "${!labels[@]}"; do
    pid=${monitors[$i]}
    read -r c w < <(awk -v wall="$((end - begin))" '
      NR == FNR { ns[$1] = $2; vol[$1] = $3; next }
      { dns += $2 - ns[$1]; dvol += $3 - vol[$1] }
      END { printf "%.4f %.1f\n", 100 * dns / wall, dvol / (wall / 1e9) }' \
      "$work/$i/before" "$work/$i/after")
    cpu[$i]+=" $c"
    wakes[$i]+=" $w"
    rss[$i]+=" $(awk '/^VmHWM/ { printf "%.2f", $2 / 1024 }' "/proc/$pid/status")"
    # The last run's threads, the main thread first.
    awk -v wall="$((end - begin))" -v pid="$pid" '
      NR == FNR { ns[$1] = $2; vol[$1] = $3; next }
      { printf "    thread %-8s %s %7.1f wake-ups/s %8.3f ms/s\n", $1, ($1 == pid ? "(main)" : "      "),
               ($3 - vol[$1]) / (wall / 1e9), ($2 - ns[$1]) / 1e6 / (wall / 1e9) }' \
      "$work/$i/before" "$work/$i/after" >"$work/$i/threads"
  done
  waiting=()
  for i in "${!labels[@]}"; do
    battery_latencies "$i" >"$work/$i/latency" &
    waiting+=($!)
  done
  wait "${waiting[@]}"
  for i in "${!labels[@]}"; do
    latency[$i]+=" $(tr '\n' ' ' <"$work/$i/latency")"
    printf 'run %d %-10s CPU %s %% of one core, %s wake-ups/s, peak RSS %s MB, battery to log %s ms\n' \
      "$run" "${labels[$i]}" "${cpu[$i]##* }" "${wakes[$i]##* }" "${rss[$i]##* }" \
      "$(median <"$work/$i/latency")"
  done
  stop_all
done

echo "median of $runs run(s):"
declare -A med
for i in "${!labels[@]}"; do
  med[cpu$i]=$(median <<<"${cpu[$i]}")
  med[wakes$i]=$(median <<<"${wakes[$i]}")
  printf '  %-10s CPU %s %% of one core, %s wake-ups/s, peak RSS %s MB, battery to log %s ms\n' \
    "${labels[$i]}" "${med[cpu$i]}" "${med[wakes$i]}" "$(median <<<"${rss[$i]}")" \
    "$(median <<<"${latency[$i]}")"
  echo "  threads of the last run:"
  cat "$work/$i/threads"
done
if [ -n "$compare" ]; then
  awk -v c0="${med[cpu0]}" -v c1="${med[cpu1]}" -v w0="${med[wakes0]}" -v w1="${med[wakes1]}" \
      -v base="${labels[1]}" 'BEGIN {
    printf "  this / %s: CPU %.3f, wake-ups %.3f\n", base, (c1 > 0 ? c0 / c1 : 0), (w1 > 0 ? w0 / w1 : 0) }'
fi
