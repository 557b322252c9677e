#!/usr/bin/env bash
# Sets up, builds and starts korvamon from the native build. Unless
# KORVA_COM1 names a device, the module simulator (korvasim) plays the module
# on COM1: the settings file gets COMPORT=1 when it has no COMPORT yet.
# Ctrl+C ends korvamon, and the simulator with it.
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
echo "run: the module simulator plays the module on COM1 ($KORVA_COM1); Ctrl+C ends"
"$bin/korvamon" "$@" || true
