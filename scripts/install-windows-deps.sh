#!/usr/bin/env bash
# Installs, with apt-get, whatever of the Windows cross build and its test
# runner is missing: the mingw-w64 cross compiler for x64 (the driver with
# std::thread), the resource compiler that comes with its binutils, and Wine.
set -euo pipefail
packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 cmake ninja-build googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
