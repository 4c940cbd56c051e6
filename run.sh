#!/usr/bin/env bash
# Sets up, builds and runs the server. Arguments go to the program (see --help).
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWITH_GUI="$TZZ_WITH_GUI" >/dev/null
cmake --build build
exec ./build/trelubki-serwer "$@"
