#!/usr/bin/env bash
# Builds the fuzz targets and runs each for the given number of seconds on its
# seed corpus, FUZZ_JOBS targets at a time (default 2, one a core of the CI
# machine). A target's output is shown when it ends; any failure fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
parallel=${FUZZ_JOBS:-2}
bash scripts/install-deps.sh
cmake --preset fuzz
cmake --build --preset fuzz
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
names=()
for source in $(find fuzz -name '*.cpp' | sort); do
  name=$(basename "$source" .cpp)
  names+=("$name")
  corpus="${source%.cpp}_corpus"
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  echo "fuzzing $name for ${seconds}s"
  (
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
    status=0
    "build/fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "$work" \
      >"$logs/$name.log" 2>&1 || status=$?
    rm -rf "$work"
    echo "$status" >"$logs/$name.status"
  ) &
done
wait
failed=0
for name in "${names[@]}"; do
  status=$(cat "$logs/$name.status" 2>/dev/null || echo missing)
  if [ "$status" != 0 ]; then
    echo "== fuzz_$name failed ($status):"
    cat "$logs/$name.log"
    failed=1
  else
    echo "== fuzz_$name: $(grep -E '^Done [0-9]+ runs' "$logs/$name.log" || tail -n 1 "$logs/$name.log")"
  fi
done
exit $failed
