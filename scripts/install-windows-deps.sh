#!/usr/bin/env bash
# Installs, with apt-get, whatever of the Windows cross build and its test
# runner is missing: the mingw-w64 cross compiler for x64 (the driver with
# std::thread), the resource compiler that comes with its binutils, and Wine.
set -euo pipefail
bash "$(dirname "$0")/apt-install-missing.sh" g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 \
  cmake ninja-build googletest
