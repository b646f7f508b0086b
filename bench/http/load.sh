#!/usr/bin/env bash
# Load test: wrk against tolvane-host and, in the same run, against nginx
# serving the same 60-byte page as a static file. Prints requests per second,
# p99 latency and the host/nginx ratio at 16 and 64 connections.
#
#   bash bench/http/load.sh [EXTENSION.so [URL_PATH]]
#
# Defaults: the release build's libtolvane.so at "/", or, when that library
# is not built, the host tests' pooled extension (it answers from its own
# threads, as the library does) at "/page". Needs wrk and nginx
# (apt-get install wrk nginx). Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/../.."
# DURATION, THREADS (wrk threads), HOST_OPTIONS (extra host options) and
# HOST_EXE (another tolvane-host build, to compare) tune a run.
DURATION=${DURATION:-10s}
THREADS=${THREADS:-2}
BUILD=${BUILD:-build/release}

if [[ ! -x $BUILD/host/tolvane-host ]]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target tolvane-host tolvane_pooled_extension
fi
HOST_EXE=${HOST_EXE:-$BUILD/host/tolvane-host}
EXTENSION=${1:-}
URL_PATH=${2:-}
if [[ -z $EXTENSION ]]; then
  if [[ -f $BUILD/libtolvane.so ]]; then
    EXTENSION=$BUILD/libtolvane.so; URL_PATH=${URL_PATH:-/}
  else
    cmake --build --preset release --target tolvane_pooled_extension >/dev/null
    EXTENSION=$BUILD/tests/host/libtolvane_pooled_extension.so; URL_PATH=${URL_PATH:-/page}
  fi
fi
URL_PATH=${URL_PATH:-/}

WORK=$(mktemp -d)
HOST_PID= NGINX_PID=
cleanup() {
  [[ -n $HOST_PID ]] && kill "$HOST_PID" 2>/dev/null && wait "$HOST_PID" 2>/dev/null
  [[ -n $NGINX_PID ]] && kill -QUIT "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

HOST_PORT=18181
NGINX_PORT=18182
"$HOST_EXE" --listen 127.0.0.1:$HOST_PORT ${HOST_OPTIONS:-} "$EXTENSION" 2>"$WORK/host.log" &
HOST_PID=$!

mkdir -p "$WORK/www"
printf '%s' '<html><heading/><body>Vantro Version Worked OK</body></html>' > "$WORK/www/page.html"
cat > "$WORK/nginx.conf" <<CONF
daemon off;
user root;
worker_processes auto;
pid $WORK/nginx.pid;
error_log $WORK/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $WORK/body; proxy_temp_path $WORK/proxy;
  fastcgi_temp_path $WORK/fastcgi; uwsgi_temp_path $WORK/uwsgi; scgi_temp_path $WORK/scgi;
  keepalive_requests 1000000;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    location / { root $WORK/www; default_type text/html; try_files /page.html =404; }
  }
}
CONF
nginx -p "$WORK" -c "$WORK/nginx.conf" &
NGINX_PID=$!

for _ in $(seq 100); do
  curl -fsS -o /dev/null "http://127.0.0.1:$HOST_PORT$URL_PATH" 2>/dev/null &&
    curl -fsS -o /dev/null "http://127.0.0.1:$NGINX_PORT/" 2>/dev/null && break
  sleep 0.1
done
echo "host:  $(curl -sS -o /dev/null -w '%{http_code} %{content_type} %{size_download} bytes' "http://127.0.0.1:$HOST_PORT$URL_PATH")"
echo "nginx: $(curl -sS -o /dev/null -w '%{http_code} %{content_type} %{size_download} bytes' "http://127.0.0.1:$NGINX_PORT/")"

# Requests per second and p99 latency (ms) from one wrk run; errors fail the run.
measure() {
  local url=$1 connections=$2 out
  out=$(wrk -t"$THREADS" -c"$connections" -d"$DURATION" --latency "$url")
  if grep -qE 'Non-2xx|Socket errors' <<<"$out"; then
    echo "$out" >&2
    echo "errors during the run against $url" >&2
    exit 1
  fi
  local rps p99
  rps=$(awk '/Requests\/sec:/ {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {v=$2; if (v ~ /us$/) {sub(/us$/,"",v); v/=1000} else if (v ~ /ms$/) {sub(/ms$/,"",v)} else if (v ~ /s$/) {sub(/s$/,"",v); v*=1000}; print v}' <<<"$out")
  echo "$rps $p99"
}

echo "load: $(uptime | sed 's/.*load average: //')"
printf '%-12s %14s %10s %14s %10s %8s %8s\n' connections host_rps host_p99 nginx_rps nginx_p99 rps_ratio p99_ratio
for connections in 16 64; do
  read -r host_rps host_p99 < <(measure "http://127.0.0.1:$HOST_PORT$URL_PATH" $connections)
  read -r nginx_rps nginx_p99 < <(measure "http://127.0.0.1:$NGINX_PORT/" $connections)
  awk -v c="$connections" -v hr="$host_rps" -v hp="$host_p99" -v nr="$nginx_rps" -v np="$nginx_p99" \
    'BEGIN { printf "%-12s %14.0f %8.2fms %14.0f %8.2fms %8.2f %8.2f\n", c, hr, hp, nr, np, hr/nr, hp/np }'
done
