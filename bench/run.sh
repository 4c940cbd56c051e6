#!/usr/bin/env bash
# Runs every workload on our server and on Redis in turn (ours, Redis, ours, Redis), server on
# core 0 and load generator on core 1, and prints one table with the ratio ours/Redis; then the
# relay once more with our log written to a file instead of /dev/null.
#   bench/run.sh [SECONDS]   (relay duration, default 5)
# Workloads: relay (50 pairs), the same relay with 10,000 other users logged in and idle
# (Redis: 10,000 idle subscribers), relay1 (one pair), fan-out, connections. Our server runs
# with its metrics endpoint, scraped once a second throughout, as a monitored service would be.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
command -v redis-server >/dev/null || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq redis-server
source tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWITH_GUI="$TZZ_WITH_GUI" >/dev/null
cmake --build build --target trelubki-serwer tzz-loadgen >/dev/null

free_port() {
  while :; do
    p=$((20000 + RANDOM % 12000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
}
wait_port() { for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return; sleep 0.05; done; echo "port $1 never opened"; exit 1; }

# 10,000 idle users plus the pairs on each side of the loopback, in one process each: more
# descriptors than the usual soft limit of 1,024.
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"
[ "$(ulimit -n)" -ge 12000 ] || { echo "need 12000 descriptors, the limit is $(ulimit -n)"; exit 1; }
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT

# GET /metrics once a second until killed, as a monitoring system scrapes.
scrape_every_second() {
  while :; do
    (exec 3<>"/dev/tcp/127.0.0.1/$1" && printf 'GET /metrics HTTP/1.0\r\n\r\n' >&3 && cat <&3 >/dev/null) 2>/dev/null || true
    sleep 1
  done
}

start_ours() {  # $1: where the log goes
  ours_port=$(free_port); http_port=$(free_port); metrics_port=$(free_port)
  taskset -c 0 ./build/trelubki-serwer --headless --messenger-port "$ours_port" --http-port "$http_port" \
    --metrics-port "$metrics_port" >"$1" 2>&1 &
  ours_pid=$!; pids+=("$ours_pid"); wait_port "$ours_port"
  scrape_every_second "$metrics_port" &
  scrape_pid=$!; pids+=("$scrape_pid")
}

start_ours /dev/null
redis_port=$(free_port)
taskset -c 0 redis-server --port "$redis_port" --save '' --appendonly no --maxclients 15000 >/dev/null 2>&1 &
redis_pid=$!; pids+=("$redis_pid"); wait_port "$redis_port"

echo "== all workloads: our log to /dev/null =="
taskset -c 1 ./build/tzz-loadgen --ours "$ours_port" "$ours_pid" --redis "$redis_port" "$redis_pid" --seconds "$seconds" | tee build/bench-table.txt
devnull=$(awk '$1=="relay" && $2=="messages/s" {print $3}' build/bench-table.txt)
kill "$ours_pid" "$scrape_pid"; wait "$ours_pid" 2>/dev/null || true

log=$(mktemp)
start_ours "$log"
echo
echo "== relay with our log written to a file =="
taskset -c 1 ./build/tzz-loadgen --ours "$ours_port" "$ours_pid" --only relay --seconds "$seconds" | tee build/bench-file.txt
file=$(awk '$1=="relay" && $2=="messages/s" {print $3}' build/bench-file.txt)
echo "log to a file: $(wc -c <"$log") bytes written"
awk -v f="$file" -v d="$devnull" 'BEGIN { printf "relay with the log in a file: %.0f messages/s = %.2fx the /dev/null figure\n", f, f / d }'
rm -f "$log"
