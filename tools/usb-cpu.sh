#!/usr/bin/env bash
# What the USB link costs: korvamon (a copy in a temporary folder with its own
# settings file, USBPORT=1) polls the fake D2XX library (KORVA_FTD2XX), which
# streams the module's frames at 960 bytes a second, for N seconds (default
# 30). korvamon's CPU time is read from /proc, and the fake's call log tells
# how often it asked for the receive count: once per 501 ms cycle. korvamon
# is ended with SIGINT. The goal is well under 1 % of one core.
#   tools/usb-cpu.sh [seconds] [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
build=${2:-$root/build}

if [ ! -x "$build/bin/korvamon" ] || [ ! -f "$build/fakeftdi/libftd2xx.so" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target korvamon korva_languages fakeftdi
fi

work=$(mktemp -d)
monitor=
finish() {
  if [ -n "$monitor" ]; then
    kill -INT "$monitor" 2>/dev/null || true
    wait "$monitor" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap finish EXIT

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
printf '[CHECK]\r\nLanguage=E\r\nDC_LOW_ShutDown=0\r\nHistoryPath=%s\r\n[COM]\r\nUSBPORT=1\r\n' \
  "$app/korvamon.log" >"$app/korvamon.INI"
printf 'device KORVA DI-ZOD 40 K2\nframe *****\\r\\nBUFRD\\r\\nDC_OK\\r\\n\n' >"$work/fake.script"

KORVA_FTD2XX="$build/fakeftdi/libftd2xx.so" KORVA_FAKEFTDI_SCRIPT="$work/fake.script" \
KORVA_FAKEFTDI_LOG="$work/fake.log" KORVA_LOCK_DIR="$work/lock" \
  "$app/korvamon" >"$work/korvamon.out" 2>&1 &
monitor=$!
# Its start, and the first frames, before the measurement.
sleep 2
if ! grep -q 'FT_OpenEx("K2", 1) = 0' "$work/fake.log" 2>/dev/null; then
  echo "usb-cpu: korvamon did not open the fake module" >&2
  cat "$work/korvamon.out" >&2
  exit 1
fi
echo "usb-cpu: korvamon polls the fake module, measuring for $seconds s"
hz=$(getconf CLK_TCK)
polls_before=$(grep -c 'FT_GetStatus' "$work/fake.log")
before=$(cpu_ticks "$monitor")
start=$(date +%s.%N)
sleep "$seconds"
after=$(cpu_ticks "$monitor")
end=$(date +%s.%N)
polls_after=$(grep -c 'FT_GetStatus' "$work/fake.log")
kill -INT "$monitor"
wait "$monitor" || true
monitor=
awk -v t="$((after - before))" -v hz="$hz" -v s="$start" -v e="$end" \
    -v polls="$((polls_after - polls_before))" 'BEGIN {
  ms = 1000 * t / hz; wall = 1000 * (e - s);
  printf "korvamon: %.1f s on USB, CPU %.0f ms = %.3f %% of one core\n", wall / 1000, ms, 100 * ms / wall
  printf "korvamon: %d FT_GetStatus calls = one per %.0f ms\n", polls, wall / polls
}'
