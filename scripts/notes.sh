#!/usr/bin/env bash
# Serves the notes example: installs what is missing, builds
# libtolvane_notes.so and tolvane-host (release) and serves the notes on
# 127.0.0.1:8080 until SIGINT or SIGTERM. The notes are kept in notes.db in
# TOLVANE_NOTES_DIR (default: build/release/notes-data). Further arguments go
# to tolvane-host (for example --listen 127.0.0.1:9090).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --target tolvane_notes tolvane-host
export TOLVANE_NOTES_DIR="${TOLVANE_NOTES_DIR:-$PWD/build/release/notes-data}"
mkdir -p "$TOLVANE_NOTES_DIR"
echo "notes are kept in $TOLVANE_NOTES_DIR/notes.db"
exec build/release/host/tolvane-host "$@" build/release/examples/notes/libtolvane_notes.so
