#!/usr/bin/env bash
# Sets up, builds and runs the server. Arguments go to the program (see --help).
# Only the program is built (not the tests), and everything the set-up and the build say goes
# to stderr: the program's output (the activity log, --help, --version) is all of stdout.
set -euo pipefail
cd "$(dirname "$0")"
{
  source tools/setup.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWITH_GUI="$TZZ_WITH_GUI" >/dev/null
  cmake --build build --target trelubki-serwer
} >&2
exec ./build/trelubki-serwer "$@"
