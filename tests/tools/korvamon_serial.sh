#!/usr/bin/env bash
# korvamon.exe under Wine on COM1, with the module simulator on the other end
# of the line (Wine's COM1 mapped to the simulator's pseudo-terminal). Wine's
# serial driver never reports the frames' line feed, so the frames reach the
# log only through the watchdog's own reads: mains, then battery operation.
# Then the session ends as the restart manager ends it: the closing lines
# are in the log when the program has answered, and the program ends.
#
# usage: korvamon_serial.sh <bin folder> <korvasim> <close_window.exe> <wine prefix>
#
# Every process this starts (Xvfb, the simulator, Wine in its own prefix) is
# ended again by the ids it got; nothing else is touched.
set -euo pipefail

bin=$1
simulator=$2
helper=$3
export WINEPREFIX=$4
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=

# The simulator is a program of the native build.
[ -x "$simulator" ] || { echo "korvamon_serial: no simulator at $simulator; skipped"; exit 77; }

work=$(mktemp -d)
simulator_pid=
korvamon_pid=
source "$(dirname "$0")/wine_desktop.sh"

cleanup() {
  set +e
  [ -n "$korvamon_pid" ] && kill "$korvamon_pid" 2>/dev/null
  wine_desktop_stop
  [ -n "$simulator_pid" ] && kill "$simulator_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "korvamon_serial: $*" >&2
  [ -f "$work/app/korvamon.log" ] && sed 's/^/  log: /' "$work/app/korvamon.log" >&2
  exit 1
}

# Waits up to $2 seconds for the log to hold a line ending in $1.
logged() {
  for _ in $(seq 1 $(($2 * 10))); do
    grep -q "$1"$'\r'"\$" "$work/app/korvamon.log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

wine_desktop_start || fail "Xvfb did not start"

mkfifo "$work/simulator-in"
"$simulator" <"$work/simulator-in" >"$work/simulator-out" 2>"$work/simulator-err" &
simulator_pid=$!
exec 4>"$work/simulator-in"
for _ in $(seq 1 50); do
  [ -s "$work/simulator-out" ] && break
  sleep 0.1
done
line=$(head -n1 "$work/simulator-out")
[ -c "$line" ] || fail "the simulator named no terminal ($line)"

# Wine's COM1 is whatever this key names.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$line" /f >/dev/null 2>&1
wineserver -w

app="$work/app"
install_program "$bin" "$app" korvamon.exe
printf '[CHECK]\r\nLanguage=E\r\n[COM]\r\nCOMPORT=1\r\nUSBPORT=0\r\n' >"$app/korvamon.INI"

(cd "$app" && exec wine korvamon.exe) >"$work/korvamon.out" 2>&1 &
korvamon_pid=$!

logged "DC input voltage OK" 60 || fail "no frame reached the log within 60 s"
logged "Connection to the UPS module established" 1 || fail "the link-up line is missing"
echo 'frame *BAT*\r\nBUFRD\r\nDC_LO\r\n' >&4
logged "Battery operation" 20 || fail "battery operation did not reach the log"
echo "korvamon_serial: mains and battery operation read from COM1"

wine "$helper" endsession TfrmKorvamon || fail "the end of the session was not answered"
# The texts of the last three lines, without their stamps (the empty line has no tab).
tail -n 3 "$app/korvamon.log" | tr -d '\r' | sed -E 's/^\[[^]]*\]\t?//' >"$work/last"
printf 'KORVA DI-ZOD monitor ended\n%s\n\n' "$(printf '*%.0s' $(seq 1 76))" | cmp -s - "$work/last" ||
  fail "the closing lines were not written before the end of the session was answered"
ends_within_30s "$korvamon_pid" || fail "korvamon still runs 30 s after the session ended"
korvamon_pid=
echo "korvamon_serial: the end of the session wrote the closing lines and ended the program"
