#!/usr/bin/env bash
# What the serial link costs: korvasim streams frames at 9600 baud into a
# pseudo-terminal and, for N seconds (default 10) each,
#  1. serialload reads them through TSerial and its event thread and reports
#     the CPU time its process used;
#  2. korvamon itself (a copy in a temporary folder with its own settings file,
#     COM1 on the simulator) receives and parses them; its CPU time is read
#     from /proc, and it is ended with SIGTERM as the system would end it.
# The goal is well under 1 % of one core.
#   tools/serial-cpu.sh [seconds] [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
build=${2:-$root/build}

if [ ! -x "$build/bin/korvasim" ] || [ ! -x "$build/bin/serialload" ] ||
   [ ! -x "$build/bin/korvamon" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target korvasim serialload korvamon korva_languages
fi

work=$(mktemp -d)
mkfifo "$work/in"
"$build/bin/korvasim" <"$work/in" >"$work/out" 2>"$work/err" &
sim=$!
monitor=
# Our end of the simulator's input: "quit", or closing it, ends the simulator.
exec 3>"$work/in"
finish() {
  if [ -n "$monitor" ]; then
    kill -TERM "$monitor" 2>/dev/null || true
    wait "$monitor" 2>/dev/null || true
  fi
  echo quit >&3 2>/dev/null || true
  exec 3>&-
  wait "$sim" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

for _ in $(seq 50); do
  [ -s "$work/out" ] && break
  sleep 0.1
done
path=$(head -n 1 "$work/out")
if [ -z "$path" ]; then
  echo "serial-cpu: the simulator did not start" >&2
  cat "$work/err" >&2
  exit 1
fi
echo "serial-cpu: simulator on $path, measuring for $seconds s"
KORVA_COM1=$path "$build/bin/serialload" --port 1 --seconds "$seconds"

# User plus system time of a process, in clock ticks.
cpu_ticks() {
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}

app="$work/app"
mkdir -p "$app" "$work/lock"
cp "$build/bin/korvamon" "$app/"
for language in DEU ENG FRA ITA; do
  [ -d "$build/bin/$language" ] && cp -r "$build/bin/$language" "$app/"
done
printf '[CHECK]\r\nLanguage=E\r\nHistoryPath=%s\r\n[COM]\r\nCOMPORT=1\r\n' \
  "$app/korvamon.log" >"$app/korvamon.INI"
KORVA_COM1=$path KORVA_LOCK_DIR="$work/lock" "$app/korvamon" >"$work/korvamon.out" 2>&1 &
monitor=$!
# Its start, and the first frames, before the measurement.
sleep 2
if ! ls -l "/proc/$monitor/fd" 2>/dev/null | grep -q -- "-> $path\$"; then
  echo "serial-cpu: korvamon did not open COM1 ($path)" >&2
  cat "$work/korvamon.out" >&2
  exit 1
fi
hz=$(getconf CLK_TCK)
before=$(cpu_ticks "$monitor")
start=$(date +%s.%N)
sleep "$seconds"
after=$(cpu_ticks "$monitor")
end=$(date +%s.%N)
kill -TERM "$monitor"
wait "$monitor" || true
monitor=
# What it wrote to its history meanwhile (the link's lines among them).
grep -a "COM1\|UPS module" "$work/korvamon.out" | sed 's/^/korvamon: /' || true
awk -v t="$((after - before))" -v hz="$hz" -v s="$start" -v e="$end" 'BEGIN {
  ms = 1000 * t / hz; wall = 1000 * (e - s);
  printf "korvamon: %.1f s on COM1, CPU %.0f ms = %.3f %% of one core\n", wall / 1000, ms, 100 * ms / wall
}'
