#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, as CTest's emulator and by hand:
#   tools/wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]   run it (the exit status is its own)
#   tools/wine-run.sh [--prefix DIR] --exec PROGRAM.exe ...  the same, Wine in this process, output
#                                                            untouched (signals reach the program)
#   tools/wine-run.sh [--prefix DIR] --check                 make the prefix, check Wine starts
#   tools/wine-run.sh [--prefix DIR] --keep-server           start the prefix's Wine server, to
#                                                            last until stopped
#   tools/wine-run.sh [--prefix DIR] --stop-server           stop it and every program under it
# The prefix (WINEPREFIX, or DIR; build-win/wine by default) is made on first use. No display
# is used and no Mono/Gecko installer is offered. The output is the program's own (standard
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

if [ "${1:-}" = "--keep-server" ] || [ "${1:-}" = "--stop-server" ]; then
  # Debian's wineserver wrapper forces -p0 (end with the last program): call the server itself.
  server=/usr/lib/wine/wineserver64
  [ -x "$server" ] || server="$(command -v wineserver || true)"
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

[ $# -ge 1 ] || fail "usage: wine-run.sh [--prefix DIR] [--exec] PROGRAM.exe [ARGS...] | --check | --keep-server | --stop-server"
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
"$wine" "$@" >"$out" 2>&1 &
program=$!
tail -s 0.05 --pid="$program" -n +1 -f "$out" | sed -u 's/\r$//'
wait "$program"
status=$?
# A program that ends in failure without a word would leave nothing to go on: say how it ended.
if [ $status -ne 0 ] && [ ! -s "$out" ]; then
  echo "wine-run.sh: $1 ended with status $status and wrote nothing" >&2
fi
exit $status
