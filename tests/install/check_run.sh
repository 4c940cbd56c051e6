#!/usr/bin/env bash
# ./run.sh as a user runs it, with stand-ins for the tools it calls: it must build the program
# alone (not the tests), and what the set-up and the build print must go to stderr, so that the
# program's own output (the activity log, --help, --version) is all of stdout.
#   check_run.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/tools" "$work/tree/build" "$work/bin"
cp "$source_dir/run.sh" "$work/tree/"
cp "$source_dir/tools/setup.sh" "$work/tree/tools/"
# Every package counts as installed; cmake says something on stdout and records its arguments.
cat > "$work/bin/dpkg-query" <<'STAND_IN'
#!/bin/sh
printf 'install ok installed'
STAND_IN
cat > "$work/bin/cmake" <<STAND_IN
#!/bin/sh
echo "cmake \$*" >> "$work/cmake-calls"
echo "[1/57] Building CXX object ..."
STAND_IN
cat > "$work/tree/build/trelubki-serwer" <<'STAND_IN'
#!/bin/sh
echo "program: $*"
STAND_IN
chmod +x "$work/bin/"* "$work/tree/build/trelubki-serwer"

PATH="$work/bin:$PATH" "$work/tree/run.sh" --version > "$work/stdout" 2> "$work/stderr"
[ "$(cat "$work/stdout")" = "program: --version" ] \
  || { echo "stdout of run.sh holds more than the program's output:"; cat "$work/stdout"; exit 1; }
grep -q "Building CXX" "$work/stderr" || { echo "the build's output did not reach stderr"; exit 1; }
build=$(grep -- "--build" "$work/cmake-calls")
[ "$build" = "cmake --build build --target trelubki-serwer" ] \
  || { echo "run.sh builds more than the program: $build"; exit 1; }
echo "run.sh builds the program alone and keeps stdout for it"
