#!/usr/bin/env bash
# korvamon.exe under Wine on USB, as installed with the fake D2XX library
# ftd2xx.dll beside it; the fake's script and call log are the files that
# KORVA_FAKEFTDI_SCRIPT and KORVA_FAKEFTDI_LOG name. korvamon must find
# "KORVA DI-ZOD 40" among the listed devices and open it, log the module's
# way from mains to battery and back, and end when its window is closed.
#
# usage: korvamon_usb_wine.sh <bin folder> <ftd2xx.dll> <close_window.exe> <wine prefix>
#
# Every process this starts (Xvfb, Wine in its own prefix) is ended again by
# the ids it got; nothing else is touched.
set -euo pipefail

bin=$1
fake=$2
helper=$3
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
  echo "korvamon_usb_wine: $*" >&2
  for file in "$work/app/usb.log" "$work/fake.log" "$work/korvamon.out"; do
    [ -f "$file" ] && { echo "--- $file" >&2; cat "$file" >&2; }
  done
  exit 1
}

wine_display_start || fail "Xvfb did not start"

if [ ! -d "$WINEPREFIX" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
fi

app="$work/app"
install_program "$bin" "$app" korvamon.exe
cp "$fake" "$app/ftd2xx.dll"
log=$(winepath -w "$app/usb.log")
printf '[CHECK]\r\nLanguage=E\r\nDC_LOW_ShutDown=0\r\nHistoryPath=%s\r\n[COM]\r\nUSBPORT=1\r\n' \
  "$log" > "$app/korvamon.INI"
cat > "$work/fake.script" <<'SCRIPT'
device FT232R USB UART A1
device KORVA DI-ZOD 40 K2
frame *****\r\nBUFRD\r\nDC_OK\r\n
after 4000 ms send frame *BAT*\r\nBUFRD\r\nDC_LO\r\n
after 8000 ms send frame *****\r\nBUFRD\r\nDC_OK\r\n
SCRIPT
KORVA_FAKEFTDI_SCRIPT=$(winepath -w "$work/fake.script")
KORVA_FAKEFTDI_LOG=$(winepath -w "$work/fake.log")
export KORVA_FAKEFTDI_SCRIPT KORVA_FAKEFTDI_LOG

(cd "$app" && exec wine korvamon.exe) >"$work/korvamon.out" 2>&1 &
korvamon_pid=$!

back_on_mains() {
  [ "$(grep -ac 'No battery operation' "$app/usb.log" 2>/dev/null)" -ge 2 ]
}
within 600 back_on_mains || fail "no mains, battery and mains again in the log within 60 s"
grep -q 'FT_ListDevices(1, DESCRIPTION) = 0 "KORVA DI-ZOD 40"' "$work/fake.log" ||
  fail "the module was not listed"
grep -q 'FT_OpenEx("K2", 1) = 0' "$work/fake.log" || fail "the module was not opened by its serial"
grep -aq '\*BAT\* / Battery operation' "$app/usb.log" || fail "no battery operation in the log"
echo "korvamon_usb_wine: the module found, opened and followed from mains to battery and back"

wine "$helper" close TfrmKorvamon || fail "the main window could not be closed"
ends_within_30s "$korvamon_pid" || fail "korvamon still runs 30 s after its window was closed"
status=0
wait "$korvamon_pid" || status=$?
korvamon_pid=
[ "$status" -eq 0 ] || fail "korvamon ended with status $status"
grep -aq 'KORVA DI-ZOD monitor ended' "$app/usb.log" || fail "no end in the log"
grep -q 'FT_Close() = 0' "$work/fake.log" || fail "the device was not closed"
echo "korvamon_usb_wine: closed, the device too, ended with status 0"
