#!/usr/bin/env bash
# The OPC proxy/stub in the OPC tests' Wine prefix: registered with regsvr32,
# the test client calls the test server through it, which COM starts in a
# process of its own; unregistered, its keys are gone. Every Wine process of
# the prefix is ended on every path.
#
# usage: opc_proxy_test.sh <bin folder> <wine prefix>
set -euo pipefail
bin=$1
export WINEPREFIX=$2
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=
trap 'wineserver -k 2>/dev/null || true' EXIT

fail() {
  echo "opc_proxy_test: $*" >&2
  exit 1
}

dll=$(winepath -w "$bin/korvaopcps.dll")
wine regsvr32 /s "$dll" || fail "regsvr32 failed"
wine "$bin/opc_proxy_tests.exe"
wine regsvr32 /s /u "$dll" || fail "regsvr32 /u failed"
if wine reg query 'HKCR\Interface\{39C13A4D-011E-11D0-9675-0020AFD8ADB3}' >/dev/null 2>&1; then
  fail "IOPCServer is still registered after regsvr32 /u"
fi
