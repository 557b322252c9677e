#!/usr/bin/env bash
# What the serial link alone costs: korvasim streams frames at 9600 baud into
# a pseudo-terminal, and for N seconds (default 10) serialload reads them
# through TSerial and its event thread and reports the CPU time its process
# used. tools/idle-cost.sh measures korvamon itself.
#   tools/serial-cpu.sh [seconds] [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
build=${2:-$root/build}

if [ ! -x "$build/bin/korvasim" ] || [ ! -x "$build/bin/serialload" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target korvasim serialload
fi

work=$(mktemp -d)
mkfifo "$work/in"
"$build/bin/korvasim" <"$work/in" >"$work/out" 2>"$work/err" &
sim=$!
# Our end of the simulator's input: "quit", or closing it, ends the simulator.
exec 3>"$work/in"
finish() {
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
