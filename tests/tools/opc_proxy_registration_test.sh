#!/usr/bin/env bash
# The proxy/stub's registration beside other OPC software, in the OPC tests'
# Wine prefix. Where nobody marshals the OPC interfaces, regsvr32 (twice)
# enters every interface of the IDL with its name, our proxy class and its
# method count, and our class with the DLL; regsvr32 /u takes all of it away.
# Where another program's proxy class is registered for IOPCServer, that
# registration reads the same after our regsvr32 and after our regsvr32 /u,
# while the other interfaces are ours and then gone. Every Wine process of
# the prefix is ended on every path.
#
# usage: opc_proxy_registration_test.sh <bin folder> <korvaopc.idl> <wine prefix>
set -euo pipefail
bin=$1
idl=$2
export WINEPREFIX=$3
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=
# The other program's IOPCServer made below goes on every path: left behind,
# the later tests of the prefix would marshal IOPCServer through a proxy
# class that nobody has.
foreign_key=
cleanup() {
  [ -z "$foreign_key" ] || wine reg delete "$foreign_key" /f >/dev/null 2>&1 || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

fail() {
  echo "opc_proxy_registration_test: $*" >&2
  exit 1
}

ours='{947149DE-A09E-46C9-9E3F-E09CBC2F8058}'
foreign='{5A1E0B7C-3D2F-4E6A-8B9C-0D1E2F3A4B5C}'
server_iid='{39C13A4D-011E-11D0-9675-0020AFD8ADB3}'
dll=$(winepath -w "$bin/korvaopcps.dll")

# "IID name" for every interface of the IDL, the IID in braces and capitals.
interfaces=$(awk '
  match($0, /uuid\([0-9A-Fa-f-]+\)/) { iid = toupper(substr($0, RSTART + 5, RLENGTH - 6)); next }
  iid != "" && $1 == "interface" { print "{" iid "} " $2; iid = "" }' "$idl")
[ "$(wc -l <<<"$interfaces")" -ge 12 ] || fail "the IDL's interfaces were not found: $interfaces"

source "$(dirname "$0")/wine_registry.sh"

# Everything under a key, as the registry lists it.
listing() {
  wine reg query "HKCR\\$1" /s 2>/dev/null | tr -d '\r'
}

expect() {
  local found
  found=$(value "$1" "$2")
  [ "$found" = "$3" ] || fail "$4: HKCR\\$1 [$2] is '$found', not '$3'"
}

regsvr32() {
  wine regsvr32 /s "$@" "$dll" || fail "regsvr32 $* $dll failed"
}

# Every interface is ours, except those named in $2; $1 says when.
expect_registered() {
  local iid name
  while read -r iid name; do
    [[ " ${2:-} " == *" $iid "* ]] && continue
    expect "Interface\\$iid" "" "$name" "$1"
    expect "Interface\\$iid\\ProxyStubClsid32" "" "$ours" "$1"
    [ -n "$(value "Interface\\$iid\\NumMethods" "")" ] || fail "$1: $name has no NumMethods"
  done <<<"$interfaces"
  # IUnknown's three and its own six.
  [[ " ${2:-} " == *" $server_iid "* ]] || expect "Interface\\$server_iid\\NumMethods" "" 9 "$1"
  expect "CLSID\\$ours" "" "PSFactoryBuffer" "$1"
  expect "CLSID\\$ours\\InProcServer32" "" "$dll" "$1"
  expect "CLSID\\$ours\\InProcServer32" "ThreadingModel" "Both" "$1"
}

# No interface is registered, except those named in $2; nor our class.
expect_gone() {
  local iid name
  while read -r iid name; do
    [[ " ${2:-} " == *" $iid "* ]] && continue
    ! key_exists "Interface\\$iid" || fail "$1: HKCR\\Interface\\$iid ($name) is left"
  done <<<"$interfaces"
  ! key_exists "CLSID\\$ours" || fail "$1: our class is left"
}

# A clean prefix: whatever an earlier run left of ours goes first.
regsvr32 /u
expect_gone "before the test"

regsvr32
regsvr32
expect_registered "on a clean prefix, registered twice"
regsvr32 /u
expect_gone "on a clean prefix, unregistered"
echo "opc_proxy_registration_test: on a clean prefix all registered and all removed"

# Another program's proxy class for IOPCServer.
key="HKCR\\Interface\\$server_iid"
foreign_key=$key
wine reg add "$key" /ve /d IOPCServer /f >/dev/null
wine reg add "$key\\ProxyStubClsid32" /ve /d "$foreign" /f >/dev/null
wine reg add "$key\\NumMethods" /ve /d 10 /f >/dev/null
before=$(listing "Interface\\$server_iid")
[ -n "$before" ] || fail "the other program's registration could not be made"

regsvr32
[ "$(listing "Interface\\$server_iid")" = "$before" ] ||
  fail "regsvr32 changed the other program's IOPCServer: $(listing "Interface\\$server_iid")"
expect_registered "beside another program's IOPCServer" "$server_iid"
regsvr32 /u
[ "$(listing "Interface\\$server_iid")" = "$before" ] ||
  fail "regsvr32 /u changed the other program's IOPCServer: $(listing "Interface\\$server_iid")"
expect_gone "beside another program's IOPCServer, unregistered" "$server_iid"
wine reg delete "$key" /f >/dev/null
foreign_key=
echo "opc_proxy_registration_test: another program's IOPCServer kept through register and unregister"
