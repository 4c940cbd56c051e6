#!/usr/bin/env bash
# Sets up, builds and runs every test: once as built, once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWITH_GUI="$TZZ_WITH_GUI" -DWITH_WERROR=ON >/dev/null
cmake --build build
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWITH_SANITIZERS=ON -DWITH_GUI="$TZZ_WITH_GUI" -DWITH_WERROR=ON >/dev/null
cmake --build build-asan

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
status=0
echo "== tests =="
ctest --test-dir build --output-on-failure -j "$jobs" || status=1
echo "== tests under ASan/UBSan =="
ctest --test-dir build-asan --output-on-failure -j "$jobs" || status=1
exit $status
