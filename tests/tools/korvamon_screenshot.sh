#!/usr/bin/env bash
# korvamon.exe under Wine on a virtual X display, as a user meets it: it starts,
# shows its main window and its tray icon and holds its hot key; a screenshot
# of the screen is kept for a person to look at; a tray icon the shell loses
# comes back with the shell's new task bar; its settings button opens the
# settings dialog, whose first two pages are kept as screenshots beside the
# first, and closing the dialog leaves the settings file as it was; the window
# is closed the way a user closes it, and the program must end, its tray icon
# and hot key gone.
#
# usage: korvamon_screenshot.sh <bin folder> <close_window.exe> <screenshot.png> <wine prefix>
#
# Every process this starts (Xvfb, Wine in its own prefix) is ended again by
# the ids it got; nothing else is touched.
set -euo pipefail

bin=$1
helper=$2
png=$3
export WINEPREFIX=$4
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=

work=$(mktemp -d)
korvamon_pid=
source "$(dirname "$0")/wine_desktop.sh"

cleanup() {
  set +e
  [ -n "$korvamon_pid" ] && kill "$korvamon_pid" 2>/dev/null
  wine_desktop_stop
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "korvamon_screenshot: $*" >&2
  exit 1
}

# Takes screenshots (the last one kept as $1) until korvamon's tray icon is
# "shown" or "gone" ($2), ten seconds at most.
tray_icon_becomes() {
  local pixels
  for _ in $(seq 1 20); do
    import -window root "$1"
    pixels=$(tray_icon_pixels "$1" "#2EA83E")
    { [ "$2" = shown ] && [ "$pixels" -gt 10 ]; } && return 0
    { [ "$2" = gone ] && [ "$pixels" -eq 0 ]; } && return 0
    sleep 0.5
  done
  return 1
}

wine_desktop_start || fail "Xvfb did not start"

# The program as installed: its folder with the language libraries and a
# settings file that names the language, so no question holds the start up.
app="$work/app"
install_program "$bin" "$app" korvamon.exe
printf '[CHECK]\r\nLanguage=E\r\n' > "$app/korvamon.INI"

(cd "$app" && exec wine korvamon.exe) >"$work/korvamon.log" 2>&1 &
korvamon_pid=$!

wine "$helper" wait TfrmKorvamon 60000 || fail "no main window within 60 s"

# The icon is drawn by the task bar after the window shows: look a few times.
tray_icon_becomes "$png" shown || fail "no tray icon in $png"
echo "korvamon_screenshot: main window and tray icon in $png"

# The shell loses the icon, as when it restarts: its new task bar brings it back.
wine "$helper" trayloss TfrmKorvamon || fail "the tray icon could not be taken away"
tray_icon_becomes "$work/lost.png" gone || fail "the tray icon stayed after the shell took it away"
wine "$helper" taskbar || fail "the new task bar could not be announced"
tray_icon_becomes "$work/back.png" shown ||
  fail "the tray icon did not come back with the new task bar"
echo "korvamon_screenshot: the tray icon came back with the shell's new task bar"
wine "$helper" taken Alt+O || fail "the hot key Alt+O is not registered"

# The settings dialog, from the main window's button ("&Settings" in English).
shots=$(dirname "$png")
cp "$app/korvamon.INI" "$work/settings-before.INI"
wine "$helper" click TfrmKorvamon "&Settings" || fail "the settings button could not be pressed"
wine "$helper" wait TfrmConfig 30000 || fail "no settings dialog within 30 s"
import -window root "$shots/korvamon-settings-dialog.png"
wine "$helper" tab TfrmConfig || fail "the dialog's pages could not be turned"
wine "$helper" wait TfrmConfig 5000 || fail "the settings dialog went away"
import -window root "$shots/korvamon-settings-battery-page.png"
echo "korvamon_screenshot: settings dialog in $shots/korvamon-settings-dialog.png"
wine "$helper" close TfrmConfig || fail "the settings dialog could not be closed"
wine "$helper" hidden TfrmConfig 10000 || fail "the settings dialog stayed open"
cmp -s "$work/settings-before.INI" "$app/korvamon.INI" ||
  fail "closing the settings dialog changed the settings file"

wine "$helper" close TfrmKorvamon || fail "the main window could not be closed"
ends_within_30s "$korvamon_pid" || fail "korvamon still runs 30 s after its window was closed"
status=0
wait "$korvamon_pid" || status=$?
korvamon_pid=
[ "$status" -eq 0 ] || fail "korvamon ended with status $status"

import -window root "$work/after.png"
[ "$(tray_icon_pixels "$work/after.png" "#2EA83E")" -eq 0 ] || fail "the tray icon stayed after the end"
if wine "$helper" taken Alt+O; then
  fail "the hot key Alt+O stayed registered after the end"
fi
echo "korvamon_screenshot: closed, ended with status 0, tray icon and hot key gone"
