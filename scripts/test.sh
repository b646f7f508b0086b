#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test under
# AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
