#!/usr/bin/env bash
# Sets up, builds and starts korvamon from the native build. Unless
# KORVA_COM1 names a device, the module simulator (korvasim) plays the module
# on COM1: the settings file gets COMPORT=1 when it has no COMPORT yet, and
# what the person types goes to the simulator: battery, mains, alarm,
# charge-low, silence, quit, or the simulator's own commands (frame TEXT).
# Ctrl+C (or quit) ends korvamon, and the simulator with it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target korvamon korvasim korva_languages
bin="$root/build/bin"

if [ -n "${KORVA_COM1:-}" ]; then
  "$bin/korvamon" "$@"
  exit
fi

work=$(mktemp -d)
mkfifo "$work/in"
"$bin/korvasim" <"$work/in" >"$work/out" &
simulator=$!
# Our end of the simulator's input: closing it ends the simulator.
exec 3>"$work/in"
finish() {
  exec 3>&-
  wait "$simulator" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

for _ in $(seq 50); do
  [ -s "$work/out" ] && break
  sleep 0.1
done
KORVA_COM1=$(head -n 1 "$work/out")
if [ -z "$KORVA_COM1" ]; then
  echo "run: the module simulator did not start" >&2
  exit 1
fi
export KORVA_COM1

ini="$bin/korvamon.INI"
if ! grep -qi '^[[:space:]]*COMPORT[[:space:]]*=' "$ini" 2>/dev/null; then
  touch "$ini"
  awk '{ print }
       !done && tolower($0) ~ /^[ \t]*\[com\][ \t\r]*$/ { printf "COMPORT=1\r\n"; done = 1 }
       END { if (!done) printf "[COM]\r\nCOMPORT=1\r\n" }' "$ini" >"$work/ini"
  cat "$work/ini" >"$ini"
fi
cat <<'WORDS'
run: the module simulator plays the module on COM1. Type:
  battery     the mains fail: the module runs on its battery
  mains       the mains are back and all is well
  alarm       the buffer is not ready (ALARM)
  charge-low  the battery is charged below 85 %
  silence     the module sends nothing (until the next word)
  quit        end (Ctrl+C too)
or a command of the simulator's own, such as: frame *****\r\nALARM\r\nDC_OK\r\n
WORDS
"$bin/korvamon" "$@" &
korvamon=$!
end_all() {
  kill "$korvamon" 2>/dev/null || true
  wait "$korvamon" 2>/dev/null || true
  finish
}
trap end_all EXIT

# The module's state as the words set it; each word sends the frame it makes
# (28 characters, with the charge word).
battery=0 alarm=0 low=0
send_state() {
  local bat='*****' buffer=BUFRD dc=DC_OK charge='BA>85'
  [ "$battery" = 0 ] || { bat='*BAT*'; dc=DC_LO; }
  [ "$alarm" = 0 ] || buffer=ALARM
  [ "$low" = 0 ] || charge='BA<85'
  printf 'frame %s\\r\\n%s\\r\\n%s\\r\\n%s\\r\\n\n' "$bat" "$buffer" "$dc" "$charge" >&3
}
send_state
# A word: true while korvamon is to go on.
take() {
  local word rest
  read -r word rest <<<"$1" || true
  case "$word" in
    battery) battery=1 ;;
    mains) battery=0 alarm=0 low=0 ;;
    alarm) alarm=1 ;;
    charge-low) low=1 ;;
    quit) return 1 ;;
    *)
      printf '%s\n' "$1" >&3
      return 0
      ;;
  esac
  [ -z "$rest" ] || echo "run: \"$word\" takes nothing after it; \"$rest\" is ignored" >&2
  send_state
}
typed=""
while kill -0 "$korvamon" 2>/dev/null; do
  status=0
  IFS= read -r -t 1 part || status=$?
  typed+=$part
  # Nothing (or only part of a line) typed within the second: look again.
  [ "$status" -le 128 ] || continue
  line=$typed
  typed=""
  if [ "$status" -ne 0 ]; then
    # No more input: korvamon goes on alone.
    [ -z "$line" ] || take "$line" || break
    wait "$korvamon" || true
    break
  fi
  take "$line" || break
done
