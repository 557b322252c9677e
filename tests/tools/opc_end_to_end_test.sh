#!/usr/bin/env bash
# korvamon's OPC server under Wine, reached by opcclient from a process of
# its own through our proxy/stub, with the fake D2XX library beside
# korvamon playing the module on USB. Two kinds of run:
#
# lifecycle: the server's life as clients see it.
# - started by COM: nothing runs; the client's activation starts korvamon
#   with "-Embedding", the client reads its status, browses and lets go;
#   korvamon ends within 10 s;
# - pre-started with UDP ports: a korvamon started with "-Embedding" beside
#   it ends at once without asking; the client finds "Korva" with its ten
#   leaves in their order and holds its connection; "USV_CLOSE" by UDP ends
#   korvamon, the client is asked to let go and its next calls fail, no hang.
#
# data: the items' values.
# - started by COM: the client reads the ten items from the device,
#   subscribes through the DA 1.0 sink (the data with time stamps in an
#   HGLOBAL medium), is told of DC_OK true and lets go; korvamon ends within
#   10 s;
# - pre-started: a client reads the ten items, the module at rest on mains;
#   another subscribes, is told of BAT false, then of BAT true within 2 s
#   of korvamon's seeing the module switch to battery; "USV_CLOSE" then
#   ends korvamon under it.
#
# A server that offers no groups, or no subscriptions, skips the data run
# (exit 77) with that reason. Every Wine process of the prefix and the
# virtual display are ended on every path.
#
# usage: opc_end_to_end_test.sh lifecycle|data <bin folder> <ftd2xx.dll> <wine prefix>
set -euo pipefail
mode=$1
bin=$2
fake=$3
export WINEPREFIX=$4
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=
case $mode in
  lifecycle | data) ;;
  *)
    echo "usage: opc_end_to_end_test.sh lifecycle|data <bin folder> <ftd2xx.dll> <wine prefix>" >&2
    exit 2
    ;;
esac

work=$(mktemp -d)
korvamon_pid=
client_pid=
embedded_pid=
source "$(dirname "$0")/wine_desktop.sh"

cleanup() {
  set +e
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null
  [ -n "$embedded_pid" ] && kill "$embedded_pid" 2>/dev/null
  [ -n "$korvamon_pid" ] && kill "$korvamon_pid" 2>/dev/null
  wine_desktop_stop
  rm -rf "$work"
}
trap cleanup EXIT

say() { echo "opc_end_to_end_test ($mode): $*"; }

fail() {
  say "$*" >&2
  echo "--- the prefix's processes" >&2
  prefix_processes >&2
  for file in "$work"/client*.out "$work/korvamon.out" "$work/app/history.log" "$work/fake.log"; do
    [ -f "$file" ] && { echo "--- $file" >&2; tail -n 40 "$file" >&2; }
  done
  exit 1
}

# A server without groups or subscriptions yet: the data run is skipped.
skip_unless_offered() {
  local reason=
  if output "$1" | grep 'AddGroup failed with 0x80004001' >/dev/null; then
    reason="the server offers no groups (AddGroup: E_NOTIMPL)"
  elif output "$1" | grep -E '(connection points for data|IDataObject) failed with 0x80004002' >/dev/null; then
    reason="the server's groups take no subscriptions (E_NOINTERFACE)"
  fi
  [ -z "$reason" ] && return 0
  say "skipped: $reason"
  exit 77
}

# The command lines of this prefix's processes (Wine keeps the environment).
prefix_processes() {
  local environ
  for environ in $(grep -lszxF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ); do
    tr '\0' ' ' 2>/dev/null <"${environ%/environ}/cmdline" && echo
  done
  return 0
}
korvamon_gone() { ! prefix_processes | grep -a 'korvamon\.exe' >/dev/null; }
embedded_korvamon() { prefix_processes | grep -ai 'korvamon\.exe.* -Embedding' >/dev/null; }

# A UDP port of the loopback that nothing on this machine has bound.
free_udp_port() {
  local port hex
  while :; do
    port=$((20000 + RANDOM % 40000))
    printf -v hex '%04X' "$port"
    grep -q ":$hex " /proc/net/udp /proc/net/udp6 2>/dev/null || { echo "$port"; return; }
  done
}

wine_display_start || fail "Xvfb did not start"

app="$work/app"
install_program "$bin" "$app" korvamon.exe
cp "$bin/korvaopcps.dll" "$app/"
cp "$fake" "$app/ftd2xx.dll"
history=$(winepath -w "$app/history.log")
printf '[CHECK]\r\nLanguage=E\r\nDC_LOW_ShutDown=0\r\nHistoryPath=%s\r\n' "$history" >"$app/korvamon.INI"
printf '[START]\r\nStartMinutes=0\r\nStartSeconds=0\r\n[COM]\r\nUSBPORT=1\r\n' >>"$app/korvamon.INI"
# At rest, charged above 85 %, on mains. The clock starts with korvamon's
# first call of the library: a pre-started korvamon's module switches to
# battery well after its client has read and subscribed.
battery_after_ms=20000
{
  echo 'device KORVA DI-ZOD 40 K2'
  echo 'frame *****\r\nBUFRD\r\nDC_OK\r\nBA>85\r\n'
  [ "$mode" = data ] && echo "after $battery_after_ms ms send frame *BAT*\\r\\nBUFRD\\r\\nDC_LO\\r\\nBA>85\\r\\n"
} >"$work/fake.script"
KORVA_FAKEFTDI_SCRIPT=$(winepath -w "$work/fake.script")
KORVA_FAKEFTDI_LOG=$(winepath -w "$work/fake.log")
# A korvamon that COM starts inherits them from the client.
export KORVA_FAKEFTDI_SCRIPT KORVA_FAKEFTDI_LOG

wine regsvr32 /s "$(winepath -w "$app/korvaopcps.dll")" || fail "the proxy/stub was not registered"
wine "$app/korvamon.exe" /RegServer 2>"$work/korvamon.out" || fail "korvamon /RegServer failed"

# The client's steps, its output kept in $work/client-$1.out.
client() {
  local name=$1
  shift
  wine "$bin/opcclient.exe" "$@" >"$work/client-$name.out" 2>&1
}

# What the client printed so far, its lines as written.
output() { tr -d '\r' <"$work/client-$1.out" 2>/dev/null; }

expect_browsed() {
  output "$1" | grep '^status: state 1,' >/dev/null || fail "$1: the server did not report itself running"
  [ "$(output "$1" | grep '^branch: ')" = "branch: Korva" ] ||
    fail "$1: the root is not the one branch Korva"
  local leaves
  leaves=$(output "$1" | sed -n 's/^leaf: \([^ ]*\) -> .*/\1/p' | tr '\n' ' ')
  [ "$leaves" = "Device last_Message Received Status Connection DC_OK BAT BAT85 ALARM AKKU " ] ||
    fail "$1: the leaves of Korva are: $leaves"
  output "$1" | grep -x 'leaf: Status -> Korva/Status' >/dev/null || fail "$1: Status is not Korva/Status"
}

# The value the client read of an item, good quality required.
read_value() {
  output "$1" | sed -n "s|^read: Korva/$2 = \\(.*\\), good 0x[0-9A-F]*, .*|\\1|p"
}

# Each of the ten items read, none refused.
expect_read() {
  [ "$(output "$1" | grep -c '^read: Korva/')" -eq 10 ] || fail "$1: not ten items read"
  ! output "$1" | grep '^read: .* failed with' >/dev/null || fail "$1: a read failed"
}

# The module at rest, on mains with its battery charged above 85 %: status
# word 0x8822.
expect_read_at_rest() {
  local item expected found
  expect_read "$1"
  for item in Status=34850 DC_OK=True BAT=False BAT85=True ALARM=False AKKU=False; do
    expected=${item#*=}
    found=$(read_value "$1" "${item%%=*}")
    [ "${found,,}" = "${expected,,}" ] || fail "$1: ${item%%=*} read '$found', not '$expected'"
  done
}

# The client's run with korvamon started by COM for it: korvamon with
# "-Embedding" while the client is there, gone within 10 s of its leaving.
started_by_com() {
  local name=$1 embedded=no status=0
  shift
  korvamon_gone || fail "a korvamon runs before the client asks for one"
  client "$name" "$@" &
  client_pid=$!
  while kill -0 "$client_pid" 2>/dev/null; do
    embedded_korvamon && embedded=yes
    sleep 0.1
  done
  wait "$client_pid" || status=$?
  client_pid=
  [ "$status" -eq 0 ] || skip_unless_offered "$name"
  [ "$status" -eq 0 ] || fail "$name: the client could not use a korvamon started by COM ($status)"
  embedded_korvamon && embedded=yes
  [ "$embedded" = yes ] || fail "$name: no korvamon with -Embedding was seen while the client ran"
  within 100 korvamon_gone || fail "$name: korvamon started by COM still runs 10 s after its client left"
}

# Whether the client started last still runs; a gone one is waited for no longer.
client_runs() { kill -0 "$client_pid" 2>/dev/null; }

# Lines of the history that say the module is on mains, or on battery.
history_lines() {
  local lines
  lines=$(grep -ac "$1" "$app/history.log" 2>/dev/null) || true
  echo "${lines:-0}"
}
on_mains() { history_lines 'No battery operation'; }

# korvamon started with UDP ports, followed until it saw the module: a
# client that came before its class object would have COM start another.
receive=
prestart() {
  local seen
  seen=$(on_mains)
  receive=$(free_udp_port)
  (cd "$app" && exec wine korvamon.exe "$receive" "$(free_udp_port)") >"$work/korvamon.out" 2>&1 &
  korvamon_pid=$!
  started() { [ "$(on_mains)" -gt "$seen" ]; }
  within 600 started || fail "korvamon did not follow the module within 60 s"
}

# "USV_CLOSE" by UDP under the held client $1: it is asked to let go, its
# calls then fail; korvamon ends with 0.
close_under_client() {
  local status=0
  printf 'USV_CLOSE' >/dev/udp/127.0.0.1/"$receive"
  wait "$client_pid" || status=$?
  client_pid=
  [ "$status" -eq 0 ] || fail "$1: the held client ended with $status"
  output "$1" | grep '^shutdown request: ' >/dev/null || fail "$1: the client was not asked to let go"
  output "$1" | grep '^after shutdown: GetStatus failed' >/dev/null ||
    fail "$1: the client's calls did not fail after the shutdown"
  within 100 korvamon_gone || fail "korvamon still runs 10 s after USV_CLOSE"
  status=0
  wait "$korvamon_pid" || status=$?
  korvamon_pid=
  [ "$status" -eq 0 ] || fail "korvamon ended with status $status"
}

if [ "$mode" = lifecycle ]; then
  started_by_com com --stop-after browse
  expect_browsed com
  say "started by COM, browsed, ended after the client left"

  prestart
  # COM may start a korvamon while another runs (one of another user, or one
  # whose class object is not there yet): that one ends at once, asking
  # nobody, so that its client gets COM's failure rather than a hang.
  (cd "$app" && exec wine korvamon.exe -Embedding) >"$work/embedded.out" 2>&1 &
  embedded_pid=$!
  within 100 has_ended "$embedded_pid" ||
    fail "a korvamon started by COM beside a running one still runs 10 s later"
  status=0
  wait "$embedded_pid" || status=$?
  embedded_pid=
  [ "$status" -eq 0 ] || fail "a korvamon started by COM beside a running one ended with $status"
  kill -0 "$korvamon_pid" 2>/dev/null || fail "the running korvamon ended beside one started by COM"
  say "pre-started; one started by COM beside it ended at once"

  client held --stop-after browse --hold --timeout 30 &
  client_pid=$!
  browsed() {
    output held | grep '^leaf: AKKU ' >/dev/null && return 0
    client_runs || fail "held: the client ended before it browsed"
    return 1
  }
  within 300 browsed || fail "the client did not browse the running korvamon within 30 s"
  close_under_client held
  expect_browsed held
  say "pre-started, browsed, closed by UDP under a held client"
else
  # Its first frame may come after the read: the values read are not
  # checked; DC_OK turns true once the items show the module at rest.
  started_by_com com --da1 --wait DC_OK=true --timeout 15
  expect_read com
  output com | grep '^change (DA 1.0): Korva/' >/dev/null || fail "com: no change through the DA 1.0 sink"
  ! output com | grep '^change (DA 1.0): [^K]' >/dev/null || fail "com: a DA 1.0 change not understood"
  output com | grep -x 'reached: Korva/DC_OK = true' >/dev/null || fail "com: DC_OK never came true"
  say "started by COM, read, told of DC_OK through the DA 1.0 sink, ended after the client left"

  batteries=$(history_lines 'Battery operation')
  prestart
  # The items follow the main window on the provider's scan: read again
  # until they show the module at rest.
  at_rest() {
    client read --stop-after read || fail "read: the client failed"
    [ "$(read_value read Status)" = 34850 ]
  }
  for _ in $(seq 1 10); do at_rest && break; sleep 0.5; done
  expect_read_at_rest read
  say "pre-started, the ten items read at rest"

  client subscribed --wait BAT=true --hold --timeout 40 &
  client_pid=$!
  on_battery() { [ "$(history_lines 'Battery operation')" -gt "$batteries" ]; }
  subscribed() {
    output subscribed | grep '^change (DA 2.0): Korva/BAT = ' >/dev/null && return 0
    client_runs || skip_unless_offered subscribed
    client_runs || fail "subscribed: the client ended before it was told of BAT"
    return 1
  }
  within 300 subscribed || fail "the client did not subscribe within 30 s"
  output subscribed | grep -m1 '^change (DA 2.0): Korva/BAT = ' | grep '= False,' >/dev/null ||
    fail "subscribed: BAT was not first told as false"
  within 400 on_battery || fail "korvamon did not see the module on battery"
  reached() { output subscribed | grep -x 'reached: Korva/BAT = true' >/dev/null; }
  within 20 reached || fail "the client was not told of BAT true within 2 s of the switch"
  close_under_client subscribed
  say "pre-started, read, told of the battery, closed by UDP under its client"
fi

wine "$app/korvamon.exe" /UnregServer 2>"$work/korvamon.out" || fail "korvamon /UnregServer failed"
wine regsvr32 /s /u "$(winepath -w "$app/korvaopcps.dll")" || fail "regsvr32 /u failed"
