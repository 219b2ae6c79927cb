#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix (never the user's).
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is created on first use. Message boxes need a display; tests run without one.
set -eu
prefix=$1; shift
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
