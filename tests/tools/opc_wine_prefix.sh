#!/usr/bin/env bash
# The Wine prefix of the OPC tests, apart from the one the other Windows tests
# share: made new and settled once per test run ("create"), its processes
# ended after the run ("end"). Without the settling wait, a new prefix keeps
# COM's first calls waiting for minutes.
#
# usage: opc_wine_prefix.sh create|end <wine prefix>
set -euo pipefail
export WINEPREFIX=$2
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=

case $1 in
  create)
    # The prefix is this test's own: its server and processes are ours.
    [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; }
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    trap 'wineserver -k 2>/dev/null || true' EXIT
    wineboot -i >/dev/null 2>&1
    wineserver -w
    trap - EXIT
    ;;
  end)
    [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; }
    ;;
  *)
    echo "usage: opc_wine_prefix.sh create|end <wine prefix>" >&2
    exit 2
    ;;
esac
