#!/usr/bin/env bash
# Installs what is missing, builds the extension library and tolvane-host
# (release) and serves the library on 127.0.0.1:8080 until SIGINT or SIGTERM.
# Further arguments go to tolvane-host (for example --listen 127.0.0.1:9090).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --target tolvane tolvane-host
exec build/release/host/tolvane-host "$@" build/release/libtolvane.so
