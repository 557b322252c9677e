#!/usr/bin/env bash
# Runs one Windows program of the cross build under Wine, in a private prefix
# kept inside the build folder, with a virtual display when none is there.
set -euo pipefail
prog=$1
shift
build=${KORVA_WINE_BUILD_DIR:-$(cd "$(dirname "$prog")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -d "$WINEPREFIX" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a wine "$prog" "$@"
fi
exec wine "$prog" "$@"
