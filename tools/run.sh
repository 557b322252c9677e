#!/usr/bin/env bash
# Sets up, builds and starts korvamon from the native build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target korvamon
exec "$root/build/bin/korvamon" "$@"
