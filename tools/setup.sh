#!/usr/bin/env bash
# Installs what the build needs (Debian packages) and configures the build folders.
# Sourced by run.sh and test.sh.
set -euo pipefail

need_pkgs=()
have() { command -v "$1" >/dev/null 2>&1; }
pkg_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

for p in cmake ninja-build g++ libgtest-dev libgmock-dev; do
  pkg_installed "$p" || need_pkgs+=("$p")
done

if [ ${#need_pkgs[@]} -gt 0 ]; then
  echo "Installing: ${need_pkgs[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq || true
  $SUDO apt-get install -y -qq "${need_pkgs[@]}"
fi

# The window (Qt 6) is not part of the build yet: the program runs headless.
export TZZ_WITH_GUI=OFF
