#!/usr/bin/env bash
# korvatray.exe under Wine on a virtual X display, installed in a folder whose
# name holds a blank, with a stub korvamon.exe inside and a decoy "dir.exe"
# beside the folder (what an unquoted command line would start first): the
# program adds its icon; a double click on the icon starts the stub, never the
# decoy, and a second one while the stub runs starts nothing; closing its
# window ends the program with status 0 and takes the icon away.
#
# usage: korvatray_wine.sh <bin folder> <close_window.exe> <stub_program.exe> <wine prefix>
#
# Every process this starts (Xvfb, Wine in its own prefix) is ended again by
# the ids it got; nothing else is touched.
set -euo pipefail

bin=$1
helper=$2
stub=$3
export WINEPREFIX=$4
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=

work=$(mktemp -d)
tray_pid=
source "$(dirname "$0")/wine_desktop.sh"

cleanup() {
  set +e
  [ -n "$tray_pid" ] && kill "$tray_pid" 2>/dev/null
  wine_desktop_stop
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "korvatray_wine: $*" >&2
  exit 1
}

# The window's icon is orange.
icon_pixels() {
  tray_icon_pixels "$1" "#D9661E"
}

lines() {
  if [ -f "$1" ]; then grep -c . "$1"; else echo 0; fi
}

wine_desktop_start || fail "Xvfb did not start"

app="$work/dir with blank"
install_program "$bin" "$app" korvatray.exe
cp "$stub" "$app/korvamon.exe"
cp "$stub" "$work/dir.exe"

(cd "$app" && exec wine korvatray.exe) >"$work/korvatray.log" 2>&1 &
tray_pid=$!
wine "$helper" there TKorvaTray 60000 || fail "no window within 60 s"

shown=0
for _ in $(seq 1 20); do
  import -window root "$work/shown.png"
  shown=$(icon_pixels "$work/shown.png")
  [ "$shown" -gt 10 ] && break
  sleep 0.5
done
[ "$shown" -gt 10 ] || fail "no tray icon"
echo "korvatray_wine: the icon shows"

wine "$helper" post TKorvaTray 0x8400 1 0x203 || fail "the double click could not be posted"
for _ in $(seq 1 100); do
  [ "$(lines "$app/started.log")" -ge 1 ] && break
  sleep 0.1
done
[ "$(lines "$app/started.log")" -eq 1 ] || fail "the double click did not start korvamon.exe"
[ ! -f "$work/started.log" ] || fail "the decoy dir.exe was started"
echo "korvatray_wine: the double click started $(head -n1 "$app/started.log" | tr -d '\r')"

wine "$helper" post TKorvaTray 0x8400 1 0x203 || fail "the second double click could not be posted"
sleep 2
[ "$(lines "$app/started.log")" -eq 1 ] || fail "a second korvamon.exe was started"
touch "$app/release"
echo "korvatray_wine: no second start while korvamon.exe runs"

wine "$helper" close TKorvaTray || fail "the window could not be closed"
ended=0
for _ in $(seq 1 300); do
  if ! kill -0 "$tray_pid" 2>/dev/null; then
    ended=1
    break
  fi
  sleep 0.1
done
[ "$ended" -eq 1 ] || fail "korvatray still runs 30 s after its window was closed"
status=0
wait "$tray_pid" || status=$?
tray_pid=
[ "$status" -eq 0 ] || fail "korvatray ended with status $status"
import -window root "$work/after.png"
[ "$(icon_pixels "$work/after.png")" -eq 0 ] || fail "the tray icon stayed after the end"
echo "korvatray_wine: closed, ended with status 0, the icon gone"
