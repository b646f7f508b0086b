#!/usr/bin/env bash
# Installs what is missing, cross-builds the windows preset (mingw-w64) and
# runs its tests under Wine, headless, in a fresh Wine prefix under
# build/windows.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-windows-deps.sh
rm -rf build/windows/wineprefix
cmake --preset windows
cmake --build --preset windows
# Create the Wine prefix before the tests are listed, so that its start-up
# does not count against their time limits.
build/windows/wine-run.sh wineboot -u
status=0
ctest --preset windows || status=$?
# Stop this prefix's Wine server rather than leave it waiting for clients.
WINEPREFIX="$PWD/build/windows/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
exit $status
