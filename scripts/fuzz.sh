#!/usr/bin/env bash
# Builds the fuzz targets and runs each for the given number of seconds on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
bash scripts/install-deps.sh
cmake --preset fuzz
cmake --build --preset fuzz
for source in $(find fuzz -name '*.cpp' | sort); do
  name=$(basename "$source" .cpp)
  corpus="${source%.cpp}_corpus"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "fuzzing $name for ${seconds}s"
  "build/fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "$work"
  rm -rf "$work"
done
