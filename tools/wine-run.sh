#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, as CTest's emulator and by hand:
#   tools/wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]   run it (the exit status is its own)
#   tools/wine-run.sh [--prefix DIR] --exec PROGRAM.exe ...  the same, Wine in this process, output
#                                                            untouched (signals reach the program)
#   tools/wine-run.sh [--prefix DIR] --display PROGRAM.exe ...
#                                                            the same, with an X display of its
#                                                            own (Xvfb and openbox, started for it
#                                                            and stopped after it): real windows
#   tools/wine-run.sh [--prefix DIR] --check                 make the prefix, check Wine starts
#   tools/wine-run.sh [--prefix DIR] --keep-server           start the prefix's Wine server, to
#                                                            last until stopped
#   tools/wine-run.sh [--prefix DIR] --stop-server           stop it and every program under it
# The prefix (WINEPREFIX, or DIR; build-win/wine by default) is made on first use. No display
# is used (but with --display) and no Mono/Gecko installer is offered. Wine's desktop takes the
# display of the first program of its server: a program with a display runs in a prefix whose
# programs all have one (the build's wine-x11), never beside the display-less ones. The output is the program's own (standard
# error joins standard output unless it is a console), except that the line ends the Windows
# runtime writes (CR LF) reach a pipe as LF, as CTest's test discovery expects.
set -uo pipefail

prefix="${WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build-win/wine}"
if [ "${1:-}" = "--prefix" ]; then
  prefix="$2"
  shift 2
fi
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX="$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY

# TZZ_WINE names another Wine loader (or a missing one, to see how a machine without Wine fails).
wine="${TZZ_WINE:-/usr/lib/wine/wine64}"
[ -n "${TZZ_WINE:-}" ] || [ -x "$wine" ] || wine="$(command -v wine64 || command -v wine || true)"
fail() {
  echo "wine-run.sh: $*" >&2
  exit 125
}
[ -n "$wine" ] && [ -x "$wine" ] || fail "Wine is not installed (Debian: wine64); the Windows programs cannot run"
# Debian's wineserver wrapper forces -p0 (end with the last program): the server itself is called.
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server="$(command -v wineserver || true)"

# Runs the program with its output through the file OUT, followed while it runs (see the end of
# this script for why not a pipe); returns the program's status.
run_followed() {
  local out="$1" program status
  shift
  "$wine" "$@" >"$out" 2>&1 &
  program=$!
  tail -s 0.05 --pid="$program" -n +1 -f "$out" | sed -u 's/\r$//'
  wait "$program"
  status=$?
  # A program that ends in failure without a word would leave nothing to go on: say how it ended.
  if [ $status -ne 0 ] && [ ! -s "$out" ]; then
    echo "wine-run.sh: $1 ended with status $status and wrote nothing" >&2
  fi
  return $status
}

if [ "${1:-}" = "--keep-server" ] || [ "${1:-}" = "--stop-server" ]; then
  [ -n "$server" ] || fail "Wine's server is not installed (Debian: wine64)"
  if [ "$1" = "--keep-server" ]; then
    exec "$server" -p
  fi
  "$server" -k 2>/dev/null
  exit 0
fi

# One prefix made once, even when several tests start at the same moment.
ready="$WINEPREFIX/.prefix-ready"
if [ ! -f "$ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$ready" ]; then
      "$wine" wineboot --init >/dev/null 2>&1
      [ -d "$WINEPREFIX/drive_c/windows/system32" ] && touch "$ready"
    fi
  ) 9>"$WINEPREFIX.lock"
  [ -f "$ready" ] || fail "Wine could not make its prefix $WINEPREFIX"
fi

if [ "${1:-}" = "--check" ]; then
  # Through a file, not a pipe (see below).
  said="$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")"
  "$wine" cmd /c echo wine-ok >"$said" 2>&1
  out="$(tr -d '\r' <"$said")"
  rm -f "$said"
  [ "$out" = "wine-ok" ] || fail "Wine does not start a Windows program here (cmd /c echo gave: ${out:0:200})"
  exit 0
fi

[ $# -ge 1 ] || fail "usage: wine-run.sh [--prefix DIR] [--exec | --display] PROGRAM.exe [ARGS...] | --check | --keep-server | --stop-server"
if [ "$1" = "--display" ]; then
  shift
  for tool in /usr/bin/Xvfb /usr/bin/openbox; do
    [ -x "$tool" ] || fail "$tool is not installed (Debian: xvfb, openbox); the window's tests need it"
  done
  x_dir="$(mktemp -d "${TMPDIR:-/tmp}/wine-x11.XXXXXX")"
  x_pid=""
  wm_pid=""
  end_display() {
    [ -z "$wm_pid" ] || kill "$wm_pid" 2>/dev/null
    [ -z "$x_pid" ] || kill "$x_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$x_dir"
  }
  trap end_display EXIT
  # Xvfb picks a free display number and writes it to descriptor 3 (here a file).
  /usr/bin/Xvfb -displayfd 3 -noreset -ac -nolisten tcp -screen 0 1280x800x24 3>"$x_dir/number" 2>/dev/null &
  x_pid=$!
  for _ in $(seq 500); do
    [ -s "$x_dir/number" ] && [ -S "/tmp/.X11-unix/X$(tr -d '\n' <"$x_dir/number")" ] && break
    kill -0 "$x_pid" 2>/dev/null || break
    sleep 0.02
  done
  [ -s "$x_dir/number" ] || fail "Xvfb could not be started"
  export DISPLAY=":$(tr -d '\n' <"$x_dir/number")"
  # openbox with settings of its own; it runs the start-up command once it manages the screen.
  XDG_CONFIG_HOME="$x_dir" XDG_CACHE_HOME="$x_dir" XDG_DATA_HOME="$x_dir" \
    /usr/bin/openbox --sm-disable --startup "touch $x_dir/wm-ready" >/dev/null 2>&1 &
  wm_pid=$!
  for _ in $(seq 500); do
    [ -f "$x_dir/wm-ready" ] && break
    kill -0 "$wm_pid" 2>/dev/null || break
    sleep 0.02
  done
  [ -f "$x_dir/wm-ready" ] || fail "openbox could not be started on $DISPLAY"
  # A server of this prefix still running without a display (the one that has just made the
  # prefix lingers a few seconds) would give the program its display-less desktop: no window
  # could be made. It is waited for, and stopped if it does not end.
  if [ -n "$server" ]; then
    timeout 20 "$server" -w 2>/dev/null || "$server" -k 2>/dev/null
  fi
  # The display ends with the program.
  out="$x_dir/out"
  : >"$out"  # there before tail looks for it
  run_followed "$out" "$@"
  status=$?
  # Wine's desktop of this prefix goes with its display: its server ends before the display does.
  [ -z "$server" ] || timeout 10 "$server" -w 2>/dev/null
  exit $status
fi
if [ "$1" = "--exec" ]; then
  shift
  exec "$wine" "$@"
fi
if [ -t 1 ]; then
  exec "$wine" "$@"
fi
# Wine's own processes of the prefix (services, the desktop), started with a program, inherit its
# output and live on with a lasting server: a pipe given to Wine would never end, and CTest would
# wait for it. So the output goes through a file, followed while the program runs.
out="$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")"
trap 'rm -f "$out"' EXIT
run_followed "$out" "$@"
