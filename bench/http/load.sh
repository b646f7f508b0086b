#!/usr/bin/env bash
# Load comparison, in one run on this machine: nginx serving the 60-byte page
# as a static file (1 worker), tolvane-host with the shipped library (pooled:
# the library queues every request to its workers), and the same host under
# the name HTTPD.EXE (the library answers on the calling thread). For 16, 64,
# 256 and 1,024 connections it prints requests per second, p99 latency, the
# servers' CPU time per request and the ratios to nginx; first, each server's
# resident memory per idle keep-alive connection (1,000 connections left open
# after one request each).
#
#   bash bench/http/load.sh [EXTENSION.so [URL_PATH]]
#
# Defaults: the release build's libtolvane.so at "/". Installs wrk and nginx
# when missing. Not part of CI. The ratios only mean something on a machine
# that does nothing else meanwhile: a busy machine starves nginx's single
# worker first. The load average is printed before and after for that reason.
#
# DURATION (per wrk run), THREADS (wrk threads), CONNECTIONS (the list),
# IDLE (idle connections for the memory figure), HOST_OPTIONS (extra host
# options) and HOST_EXE (another tolvane-host build, to compare) tune a run.
set -euo pipefail
cd "$(dirname "$0")/../.."
DURATION=${DURATION:-10s}
THREADS=${THREADS:-1}
CONNECTIONS=${CONNECTIONS:-16 64 256 1024}
IDLE=${IDLE:-1000}
BUILD=${BUILD:-build/release}

if ! command -v wrk >/dev/null || ! command -v nginx >/dev/null; then
  apt-get install -y wrk nginx-light >/dev/null 2>&1 || apt-get install -y wrk nginx >/dev/null
fi
if [[ -z ${HOST_EXE:-} ]]; then
  [[ -d $BUILD ]] || cmake --preset release >/dev/null
  cmake --build --preset release --target tolvane-host tolvane >/dev/null
fi
HOST_EXE=${HOST_EXE:-$BUILD/host/tolvane-host}
EXTENSION=${1:-$BUILD/libtolvane.so}
URL_PATH=${2:-/}

WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# The library decides from the program's own file name (not a link to it)
# whether it runs inside HTTPD.EXE.
mkdir -p "$WORK/bin"
cp "$HOST_EXE" "$WORK/bin/HTTPD.EXE"
# Enough room that the largest run never meets the host's connection limit.
LIMITS="--max-connections 4096"

NAMES=(nginx pooled direct)
declare -A PORT=([nginx]=18182 [pooled]=18181 [direct]=18183)
declare -A URL PID

start_servers() {
  mkdir -p "$WORK/www"
  printf '%s' '<html><heading/><body>Vantro Version Worked OK</body></html>' >"$WORK/www/page.html"
  cat >"$WORK/nginx.conf" <<CONF
daemon off;
user root;
worker_processes 1;
worker_rlimit_nofile 8192;
pid $WORK/nginx.pid;
error_log $WORK/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $WORK/body; proxy_temp_path $WORK/proxy;
  fastcgi_temp_path $WORK/fastcgi; uwsgi_temp_path $WORK/uwsgi; scgi_temp_path $WORK/scgi;
  keepalive_requests 1000000;
  keepalive_timeout 120s;
  server {
    listen 127.0.0.1:${PORT[nginx]};
    location / { root $WORK/www; default_type text/html; try_files /page.html =404; }
  }
}
CONF
  nginx -p "$WORK" -c "$WORK/nginx.conf" &
  PID[nginx]=$!
  "$HOST_EXE" --listen 127.0.0.1:${PORT[pooled]} $LIMITS ${HOST_OPTIONS:-} "$EXTENSION" 2>"$WORK/pooled.log" &
  PID[pooled]=$!
  "$WORK/bin/HTTPD.EXE" --listen 127.0.0.1:${PORT[direct]} $LIMITS ${HOST_OPTIONS:-} "$EXTENSION" 2>"$WORK/direct.log" &
  PID[direct]=$!
  PIDS=("${PID[@]}")
  URL[nginx]="http://127.0.0.1:${PORT[nginx]}/"
  URL[pooled]="http://127.0.0.1:${PORT[pooled]}$URL_PATH"
  URL[direct]="http://127.0.0.1:${PORT[direct]}$URL_PATH"
  for name in "${NAMES[@]}"; do
    for _ in $(seq 100); do
      curl -fsS -o /dev/null "${URL[$name]}" 2>/dev/null && break
      sleep 0.1
    done
    printf '%-7s %s\n' "$name" \
      "$(curl -sS -o /dev/null -w '%{http_code} %{content_type} %{size_download} bytes' "${URL[$name]}")"
  done
}

stop_servers() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  PIDS=()
}

# A server's processes: the one started and its children (nginx's worker).
processes() { echo "$1" $(pgrep -P "$1" || true); }

# User and system CPU time of a server so far, in clock ticks.
cpu_ticks() {
  local total=0 pid fields
  for pid in $(processes "$1"); do
    # The fields after the command name, which may hold spaces.
    fields=$(sed 's/^.*) //' "/proc/$pid/stat")
    total=$((total + $(awk '{print $12 + $13}' <<<"$fields")))
  done
  echo "$total"
}

rss_kib() {
  local total=0 pid
  for pid in $(processes "$1"); do
    total=$((total + $(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")))
  done
  echo "$total"
}

# Opens COUNT connections to PORT, makes one request on each and keeps them
# all open until its standard input closes; prints "ready" once all are answered.
IDLE_CLIENT_SCRIPT=$(cat <<'PY'
import socket, sys
port, count, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
held = []
for _ in range(count):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(b"GET " + path.encode() + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    data = b""
    while b"\r\n\r\n" not in data:
        data += s.recv(4096)
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    while len(body) < length:
        body += s.recv(4096)
    held.append(s)
print("ready", flush=True)
sys.stdin.read()
PY
)
idle_client() { python3 -c "$IDLE_CLIENT_SCRIPT" "$@"; }

# Resident memory each idle keep-alive connection costs, in KiB.
idle_memory() {
  local name=$1 before after
  sleep 0.5
  before=$(rss_kib "${PID[$name]}")
  coproc IDLE_CLIENT { idle_client "${PORT[$name]}" "$IDLE" "$( [[ $name == nginx ]] && echo / || echo "$URL_PATH")"; }
  local line
  read -r line <&"${IDLE_CLIENT[0]}"
  sleep 0.5
  after=$(rss_kib "${PID[$name]}")
  eval "exec ${IDLE_CLIENT[1]}>&-"
  wait "$IDLE_CLIENT_PID" 2>/dev/null || true
  awk -v b="$before" -v a="$after" -v n="$IDLE" 'BEGIN { printf "%.2f", (a - b) / n }'
}

# Requests per second, p99 latency (ms) and CPU per request (µs) of one wrk
# run; errors fail the run.
measure() {
  local name=$1 connections=$2 out ticks_before ticks_after hz
  hz=$(getconf CLK_TCK)
  ticks_before=$(cpu_ticks "${PID[$name]}")
  out=$(wrk -t"$THREADS" -c"$connections" -d"$DURATION" --latency "${URL[$name]}")
  ticks_after=$(cpu_ticks "${PID[$name]}")
  if grep -qE 'Non-2xx|Socket errors' <<<"$out"; then
    echo "$out" >&2
    echo "errors during the run against $name" >&2
    exit 1
  fi
  local rps p99 requests
  rps=$(awk '/Requests\/sec:/ {print $2}' <<<"$out")
  requests=$(awk '/requests in/ {print $1}' <<<"$out")
  p99=$(awk '$1 == "99%" {v=$2; if (v ~ /us$/) {sub(/us$/,"",v); v/=1000} else if (v ~ /ms$/) {sub(/ms$/,"",v)} else if (v ~ /s$/) {sub(/s$/,"",v); v*=1000}; print v}' <<<"$out")
  awk -v r="$rps" -v p="$p99" -v t=$((ticks_after - ticks_before)) -v hz="$hz" -v n="$requests" \
    'BEGIN { printf "%s %s %.2f\n", r, p, t / hz / n * 1e6 }'
}

echo "load: $(uptime | sed 's/.*load average: //')"
echo "== resident memory per idle keep-alive connection ($IDLE connections, one request each)"
start_servers
for name in "${NAMES[@]}"; do
  printf '%-7s %8s KiB\n' "$name" "$(idle_memory "$name")"
done
stop_servers

echo "== wrk -t$THREADS -d$DURATION, the 60-byte page"
start_servers
printf '%-6s %-7s %10s %9s %12s %9s %9s\n' conns server req/s p99 cpu/req rps/nginx p99/nginx
declare -A ALL  # requests per second by server and connections
for connections in $CONNECTIONS; do
  declare -A RPS P99 CPU
  for name in "${NAMES[@]}"; do
    read -r RPS[$name] P99[$name] CPU[$name] < <(measure "$name" "$connections")
    ALL[$name,$connections]=${RPS[$name]}
  done
  for name in "${NAMES[@]}"; do
    awk -v c="$connections" -v s="$name" -v r="${RPS[$name]}" -v p="${P99[$name]}" -v u="${CPU[$name]}" \
      -v nr="${RPS[nginx]}" -v np="${P99[nginx]}" \
      'BEGIN { printf "%-6s %-7s %10.0f %7.2fms %10.2fus %9.2f %9.2f\n", c, s, r, p, u, r / nr, p / np }'
  done
done
# How each server holds up past 64 connections.
if [[ -n ${ALL[nginx,64]:-} ]]; then
  for name in "${NAMES[@]}"; do
    line="$name: requests per second against its own at 64 connections:"
    for connections in $CONNECTIONS; do
      [[ $connections == 64 ]] && continue
      line+=$(awk -v c="$connections" -v r="${ALL[$name,$connections]}" -v b="${ALL[$name,64]}" \
        'BEGIN { printf " %s: %.2f", c, r / b }')
    done
    echo "$line"
  done
fi
echo "load: $(uptime | sed 's/.*load average: //')"
