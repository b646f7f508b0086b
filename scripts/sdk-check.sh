#!/usr/bin/env bash
# Checks tolvane as its users get it: builds what the package installs
# (release), installs it into a temporary prefix, builds extension projects out
# of tree with only that prefix to find tolvane in, serves each with the
# installed tolvane-host on a free loopback port and checks a request; then
# builds the Debian package and checks what it holds.
#
#   scripts/sdk-check.sh [PROJECT URL_PATH TEXT]...
#
# Each PROJECT is a folder with a CMakeLists.txt using find_package(tolvane)
# and tolvane_add_extension; the page at URL_PATH must contain TEXT. Without
# arguments the small extension of tests/sdk/hello is checked.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

if [ $# -eq 0 ]; then
  set -- tests/sdk/hello "/greet?name=tolvane" "Hello, tolvane!"
fi
if [ $(($# % 3)) -ne 0 ]; then
  echo "usage: $0 [PROJECT URL_PATH TEXT]..." >&2
  exit 2
fi

bash scripts/install-deps.sh

build=build/package
work=$(mktemp -d)
host_pid=""
cleanup() {
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; wait "$host_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Only what is installed: no tests, benchmarks or fuzz targets. The prefix is
# the package's, so the library folder is the system's own (multiarch).
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTOLVANE_TESTS=OFF -DTOLVANE_BENCH=OFF -DTOLVANE_FUZZ=OFF -DTOLVANE_HOST=ON
cmake --build "$build"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix"

# Starts the installed host on 127.0.0.1 with an ephemeral port; sets port.
serve() {
  local log=$1 extension=$2
  "$prefix/bin/tolvane-host" --listen 127.0.0.1:0 "$extension" 2>"$log" &
  host_pid=$!
  port=""
  for _ in $(seq 1 250); do
    port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$log" | head -n 1)
    [ -n "$port" ] && return 0
    kill -0 "$host_pid" 2>/dev/null || break
    sleep 0.04
  done
  echo "tolvane-host did not start:" >&2
  cat "$log" >&2
  return 1
}

stop_host() {
  kill "$host_pid"
  wait "$host_pid" || true
  host_pid=""
}

while [ $# -gt 0 ]; do
  project=$1 path=$2 text=$3
  shift 3
  name=$(basename "$project")
  echo "== building $project against $prefix"
  project_build=$work/build-$name
  # The tree's own folders stay out of reach: the project sees tolvane only
  # through the prefix.
  cmake -S "$project" -B "$project_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  cmake --build "$project_build"
  extension=$(find "$project_build" -maxdepth 1 -name 'lib*.so' -type f | head -n 1)
  if [ -z "$extension" ]; then
    echo "$project built no extension" >&2
    exit 1
  fi
  serve "$work/host-$name.log" "$extension"
  page=$(curl -fsS --max-time 30 "http://127.0.0.1:$port$path")
  stop_host
  if [[ "$page" != *"$text"* ]]; then
    echo "$project: GET $path answered without \"$text\":" >&2
    echo "$page" >&2
    exit 1
  fi
  echo "$project: GET $path served by the installed host"
done

echo "== the Debian package"
rm -f "$build"/tolvane_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/tolvane_*.deb)
dpkg-deb -c "$deb" >"$work/contents"
for wanted in \
  ./usr/bin/tolvane-host \
  ./usr/bin/tolvane-defc \
  ./usr/include/tolvane/isapi/isapi.h \
  "./usr/lib/*/libtolvane_platform.a" \
  "./usr/lib/*/libtolvane_isapi.a" \
  "./usr/lib/*/tolvane/libtolvane.so*" \
  "./usr/lib/*/cmake/tolvane/tolvaneConfig.cmake" \
  "./usr/lib/*/cmake/tolvane/TolvaneExtension.cmake" \
  ./usr/share/tolvane/extension_skeleton/entry_points.cpp; do
  found=no
  while read -r _ _ _ _ _ entry _; do
    # shellcheck disable=SC2053  # the wanted path is a pattern
    if [[ "$entry" == $wanted ]]; then found=yes; break; fi
  done <"$work/contents"
  if [ $found = no ]; then
    echo "$deb lacks $wanted" >&2
    exit 1
  fi
done
dpkg-deb -f "$deb" Package Version Depends
echo "sdk check passed in $((SECONDS - started)) s: $deb"
