#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix (never the user's).
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created on first use. Message boxes need a display; tests run without one.
set -eu
. "$(dirname "$0")/../tools/wine-launcher.sh"
prefix=$1; shift
# A 32-bit program cannot run on a machine that cannot execute 32-bit programs: CTest reports
# the test as skipped (exit code 77), not as failed.
if [ "$VELNOR_WIN32" = 0 ] && [ -f "${1:-}" ] && [ "$(pe_machine "$1")" = 014c ]; then
  skip_32bit_suite "$(basename "$1")"
fi
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" 
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$prefix/.velnor-ready" ]; then
  mkdir -p "$prefix"
  (
    flock 9
    if [ ! -f "$prefix/.velnor-ready" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      touch "$prefix/.velnor-ready"
    fi
  ) 9>"$prefix.lock"
fi
exec wine "$@"
