#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each for a bounded time,
# starting from the seed corpus in fuzz/corpus (which stays as it is). A crash, leak, hang or
# runaway memory stops the run with the input that caused it.
#   bench/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
command -v clang++ >/dev/null || { SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"; DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang; }
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DWITH_FUZZ=ON -DWITH_GUI=OFF -DWITH_TESTS=OFF >/dev/null
cmake --build build-fuzz --target tzz-fuzz-messenger tzz-fuzz-http
status=0
for target in messenger http; do
  work=$(mktemp -d)
  cp fuzz/corpus/$target/* "$work"/
  echo "== $target: ${seconds}s =="
  if ! ./build-fuzz/tzz-fuzz-$target "$work" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -max_len=4096 -print_final_stats=1 -artifact_prefix="build-fuzz/$target-" 2>&1 | tail -n 12; then
    status=1
  fi
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  rm -rf "$work"
done
exit $status
