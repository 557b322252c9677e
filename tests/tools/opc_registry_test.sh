#!/usr/bin/env bash
# korvamon's registration in the OPC tests' Wine prefix, from a copy in a
# folder whose name holds a blank: after /RegServer every key and value of
# the server, its two OPC categories and its type library read back; the
# LocalServer32 line starts that copy through CreateProcess, never a decoy
# "Korva.exe" beside the folder (what an unquoted line with a blank would
# start); registered twice, one -UNREGSERVER leaves none of the keys. A
# registration that fails ends with 1 and says why: on standard error where
# its starter redirected that, else in a message box.
# Every Wine process of the prefix, and the virtual display, are ended on
# every path.
#
# usage: opc_registry_test.sh <bin folder> <start_local_server.exe> <stub_program.exe>
#                             <close_window.exe> <volatile_key.exe> <wine prefix>
set -euo pipefail
bin=$1
starter=$2
stub=$3
closer=$4
blocker=$5
export WINEPREFIX=$6
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=

work=$(mktemp -d)
source "$(dirname "$0")/wine_desktop.sh"
trap 'wine_desktop_stop 2>/dev/null || true; rm -rf "$work"' EXIT

fail() {
  echo "opc_registry_test: $*" >&2
  exit 1
}

clsid='{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}'
libid='{E396CD63-C36C-4DB0-B93B-84583807754B}'
categories="CLSID\\$clsid\\Implemented Categories"
app="$work/Korva Monitor"
mkdir -p "$app"
cp "$bin/korvamon.exe" "$app/"
cp "$stub" "$work/Korva.exe"
touch "$work/release"

# korvamon with a switch: it must end with 0 and say nothing.
korvamon() {
  local status=0
  wine "$app/korvamon.exe" "$1" 2>"$work/stderr" || status=$?
  [ "$status" -eq 0 ] || fail "korvamon $1 ended with $status: $(cat "$work/stderr")"
  [ ! -s "$work/stderr" ] || fail "korvamon $1 wrote: $(cat "$work/stderr")"
}

source "$(dirname "$0")/wine_registry.sh"

expect() {
  local found
  found=$(value "$1" "$2")
  [ "$found" = "$3" ] || fail "HKCR\\$1 [$2] is '$found', not '$3'"
}

# A Windows path as registered, as the file it names here.
unix_path() {
  local path=$1
  path=${path#\"}
  path=${path%\"}
  path=${path#\\\\\?\\}
  winepath -u "$path" 2>/dev/null
}

korvamon /RegServer
expect "CLSID\\$clsid" "" "KORVA UPS OPC Server"
expect "KORVA_UPS.OPC" "" "KORVA UPS OPC Server"
expect "KORVA_UPS.OPC\\Clsid" "" "$clsid"
expect "CLSID\\$clsid\\ProgID" "" "KORVA_UPS.OPC"
expect "KORVA_UPS.OPC\\OPC\\Vendor" "" "Korva"
expect "AppID\\korvamon.exe" "AppID" "$clsid"
expect "TypeLib\\$libid\\1.0" "" "KORVA DCOM  Library"
for category in '{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}' '{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}'; do
  key_exists "$categories\\$category" || fail "category $category is not registered"
done
[ "$(unix_path "$(value "TypeLib\\$libid\\1.0\\0\\win64")")" -ef "$app/korvamon.exe" ] ||
  fail "the type library is not registered for the copy"

server=$(value "CLSID\\$clsid\\LocalServer32")
case $server in
  \"*\") ;;
  *' '*) fail "LocalServer32 holds a blank outside quotes: $server" ;;
esac
[ "$(unix_path "$server")" -ef "$app/korvamon.exe" ] || fail "LocalServer32 is not the copy: $server"
echo "opc_registry_test: registered; LocalServer32 is $server"

# Started as COM starts it, the copy registers itself once more.
status=0
wine "$starter" "$clsid" /RegServer || status=$?
[ "$status" -eq 0 ] || fail "the LocalServer32 line ended with $status"
[ ! -f "$work/started.log" ] || fail "the LocalServer32 line started the decoy"
echo "opc_registry_test: CreateProcess started the copy, registered twice"

korvamon -UNREGSERVER
for key in "CLSID\\$clsid" "KORVA_UPS.OPC" "AppID\\korvamon.exe" "TypeLib\\$libid"; do
  ! key_exists "$key" || fail "HKCR\\$key is left after -UNREGSERVER"
done
korvamon /unregserver
echo "opc_registry_test: unregistered, no key left"

# The type library's key made one that lasts only while the prefix's server
# runs (a server of our own, kept running meanwhile, whose programs show
# their windows on a virtual display): registering below it fails.
wine_display_start || fail "Xvfb did not start"
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p
wine "$blocker" "TypeLib\\$libid" || fail "the type library's key could not be made volatile"
reason="Registration failed: Cannot register the type library $libid"
status=0
wine "$app/korvamon.exe" /RegServer 2>"$work/stderr" || status=$?
[ "$status" -eq 1 ] || fail "a failed /RegServer ended with $status"
grep -F "$reason" "$work/stderr" >/dev/null || fail "a failed /RegServer wrote: $(cat "$work/stderr")"
echo "opc_registry_test: a failed registration says why on standard error"

# Without a standard error, as started from Explorer.
(
  status=0
  wine "$app/korvamon.exe" /RegServer 2>&- || status=$?
  echo "$status" >"$work/boxed"
) &
wine "$closer" wait "#32770" 30000 || fail "no message box told why /RegServer failed"
box=$(wine "$closer" text "#32770" | tr -d '\r')
grep -F "$reason" <<<"$box" >/dev/null || fail "the message box said: $box"
wine "$closer" click "#32770" OK || fail "the message box could not be answered"
within 300 test -s "$work/boxed" || fail "korvamon still runs 30 s after its message box"
[ "$(cat "$work/boxed")" = 1 ] || fail "a failed /RegServer with a message box ended with $(cat "$work/boxed")"
wine reg delete "HKCR\\TypeLib\\$libid" /f >/dev/null 2>&1 || true
echo "opc_registry_test: without a standard error, a message box says why"
