#!/usr/bin/env bash
# Installs what the build needs (Debian packages) and configures the build folders.
# Sourced by run.sh and test.sh.
set -euo pipefail

need_pkgs=()
have() { command -v "$1" >/dev/null 2>&1; }
pkg_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# lintian checks the packages the way Debian does, man (man-db) the manual page, shellcheck the
# maintainer scripts.
for p in cmake ninja-build g++ libgtest-dev libgmock-dev lintian man-db shellcheck; do
  pkg_installed "$p" || need_pkgs+=("$p")
done
# libsystemd-dev (found through pkg-config) lets the service tell systemd it is ready and feed
# its watchdog; prometheus brings promtool, which checks the metrics endpoint's text in the tests.
for p in pkg-config libsystemd-dev prometheus; do
  pkg_installed "$p" || need_pkgs+=("$p")
done
# The window; without it the program is built headless only. Xvfb gives the window's program
# tests an X server of their own, and openbox a window manager on it (real frames and window
# states); desktop-file-validate checks the desktop entry.
if [ "${WITH_GUI:-ON}" != "OFF" ]; then
  for p in qt6-base-dev xvfb openbox desktop-file-utils; do
    pkg_installed "$p" || need_pkgs+=("$p")
  done
fi

# The Windows leg of test.sh (TZZ_WINDOWS_LEG=1): the mingw-w64 cross compiler (posix thread
# model), GoogleTest's sources to build for it, and Wine to run what it builds; the window's
# tests under Wine get an X server (Xvfb) and a window manager (openbox) of their own.
if [ "${TZZ_WINDOWS_LEG:-0}" = 1 ]; then
  for p in g++-mingw-w64-x86-64-posix googletest wine64 xvfb openbox; do
    pkg_installed "$p" || need_pkgs+=("$p")
  done
fi

if [ ${#need_pkgs[@]} -gt 0 ]; then
  echo "Installing: ${need_pkgs[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq || true
  if ! $SUDO apt-get install -y -qq "${need_pkgs[@]}"; then
    echo "Some packages could not be installed; trying without the window (Qt 6)." >&2
    rest=()
    for p in "${need_pkgs[@]}"; do
      case "$p" in qt6-base-dev | xvfb | openbox | desktop-file-utils) ;; *) rest+=("$p") ;; esac
    done
    [ ${#rest[@]} -eq 0 ] || $SUDO apt-get install -y -qq "${rest[@]}"
  fi
fi

TZZ_WITH_GUI=OFF
if [ "${WITH_GUI:-ON}" != "OFF" ] && pkg_installed qt6-base-dev; then TZZ_WITH_GUI=ON; fi
export TZZ_WITH_GUI
