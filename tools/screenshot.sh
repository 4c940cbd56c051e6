#!/usr/bin/env bash
# Takes docs/window.png: the window under Xvfb, with two clients logged in, and its about box.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup.sh
if ! command -v xvfb-run >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq xvfb xauth
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWITH_GUI=ON >/dev/null
cmake --build build --target tzz-screenshot
mkdir -p docs
XDG_CONFIG_HOME="$(mktemp -d)" xvfb-run -a -s "-screen 0 1280x800x24" ./build/tzz-screenshot docs/window.png
