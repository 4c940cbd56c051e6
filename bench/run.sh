#!/usr/bin/env bash
# Runs every workload on our server and on the servers a user could pick instead, in turn (ours,
# Redis, Mosquitto, NATS, then all again): Redis pub/sub, Mosquitto (MQTT 3.1.1 at QoS 0, no
# persistence) and NATS (GOMAXPROCS=1). Every server is pinned to core 0 and the load generator
# to core 1. Prints one table with a column per server and the ratios ours/each, then the relay
# once more with our log written to a file instead of /dev/null.
#   bench/run.sh [SECONDS]   (relay duration, default 5)
# Workloads: relay (50 pairs), the same relay with 10,000 other users logged in and idle (the
# others: 10,000 idle subscribers), relay1 (one pair), fan-out, connections; each with the
# server's CPU time per delivered message. Our server runs with its metrics endpoint, scraped
# once a second throughout, as a monitored service would be.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
source tools/setup.sh
# The servers compared, from Debian, as a user would install them.
missing=()
for p in redis-server mosquitto nats-server; do pkg_installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
PATH="$PATH:/usr/sbin"
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
conf=$(mktemp -d)  # the other servers' configuration files
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$conf"' EXIT

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

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$(redis-server --version | cut -d' ' -f1-3); $(mosquitto -h 2>/dev/null | head -1); nats-server $(nats-server --version | cut -d' ' -f2)"
start_ours /dev/null
redis_port=$(free_port)
taskset -c 0 redis-server --port "$redis_port" --save '' --appendonly no --maxclients 15000 >/dev/null 2>&1 &
redis_pid=$!; pids+=("$redis_pid"); wait_port "$redis_port"

# Mosquitto: one loopback listener, no persistence, Nagle off on its sockets as on ours, Redis's
# and NATS's (its default keeps Nagle on, which only delays a lone message).
mosq_port=$(free_port)
printf '%s\n' "listener $mosq_port 127.0.0.1" "max_connections -1" "allow_anonymous true" \
  "persistence false" "set_tcp_nodelay true" "log_dest none" >"$conf/mosquitto.conf"
taskset -c 0 mosquitto -c "$conf/mosquitto.conf" >/dev/null 2>&1 &
mosq_pid=$!; pids+=("$mosq_pid"); wait_port "$mosq_port"

# NATS with one core's worth of Go threads (GOMAXPROCS=1): the others are single-threaded.
nats_port=$(free_port)
printf '%s\n' "listen: 127.0.0.1:$nats_port" "max_connections: 65536" >"$conf/nats.conf"
GOMAXPROCS=1 taskset -c 0 nats-server -c "$conf/nats.conf" >/dev/null 2>&1 &
nats_pid=$!; pids+=("$nats_pid"); wait_port "$nats_port"

echo "== all workloads: our log to /dev/null =="
taskset -c 1 ./build/tzz-loadgen --ours "$ours_port" "$ours_pid" --redis "$redis_port" "$redis_pid" \
  --mosquitto "$mosq_port" "$mosq_pid" --nats "$nats_port" "$nats_pid" --seconds "$seconds" | tee build/bench-table.txt
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
devnull=$(awk '$1=="relay" && $2=="messages/s" {print $3 + 0}' build/bench-table.txt)
kill "$ours_pid" "$scrape_pid" "$redis_pid" "$mosq_pid" "$nats_pid"
wait "$ours_pid" "$redis_pid" "$mosq_pid" "$nats_pid" 2>/dev/null || true

log=$(mktemp)
start_ours "$log"
echo
echo "== relay with our log written to a file =="
taskset -c 1 ./build/tzz-loadgen --ours "$ours_port" "$ours_pid" --only relay --seconds "$seconds" | tee build/bench-file.txt
file=$(awk '$1=="relay" && $2=="messages/s" {print $3 + 0}' build/bench-file.txt)
echo "log to a file: $(wc -c <"$log") bytes written"
awk -v f="$file" -v d="$devnull" 'BEGIN { printf "relay with the log in a file: %.0f messages/s = %.2fx the /dev/null figure\n", f, f / d }'
rm -f "$log"
