#!/usr/bin/env bash
# Installs what the builds need (Debian packages), once; quiet when all is there.
set -euo pipefail
packages=(g++ clang libclang-rt-14-dev cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev
          clang-format g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-x86-64 wine wine64 libwine-dev xvfb xauth
          imagemagick x11-apps)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
