# Sourced by every script that runs Wine.
#
# Debian's "wine" launcher always starts Wine's 32-bit loader first, also for 64-bit programs.
# A machine whose kernel cannot execute 32-bit programs refuses that loader at once ("Exec format
# error"), and with it every Wine program. There, for this script and what it starts, "wine"
# (and "wine-stable", which wineboot and the other tools run) start the 64-bit loader, which
# runs every 64-bit program; 32-bit programs cannot run at all.
#
# The same holds where Wine's 32-bit loader is not installed because set-up could not install it
# (tools/setup.sh leaves the reason in build/setup-32bit.txt).
#
# VELNOR_WIN32 tells the scripts which machine this is: 1 when 32-bit programs run, 0 when not;
# VELNOR_WIN32_REASON says why not, in one line the commands print first and last.
if [ -z "${VELNOR_WIN32:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    export VELNOR_WIN32=1 VELNOR_WIN32_REASON=""
  else
    export VELNOR_WIN32=0
    velnor_note="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/setup-32bit.txt"
    if [ -x /usr/lib/wine/wine ]; then
      VELNOR_WIN32_REASON="32-bit build not proven here: this machine cannot execute 32-bit programs"
    elif [ -s "$velnor_note" ]; then
      VELNOR_WIN32_REASON=$(head -n 1 "$velnor_note")
    else
      VELNOR_WIN32_REASON="32-bit build not proven here: Wine's 32-bit loader (wine32:i386) is not installed"
    fi
    export VELNOR_WIN32_REASON
    unset velnor_note
    velnor_launchers="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine64-launcher"
    mkdir -p "$velnor_launchers"
    for velnor_name in wine wine-stable; do
      # Written aside and renamed, so that scripts starting side by side never see half a file.
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$velnor_launchers/$velnor_name.$$"
      chmod +x "$velnor_launchers/$velnor_name.$$"
      mv -f "$velnor_launchers/$velnor_name.$$" "$velnor_launchers/$velnor_name"
    done
    export PATH="$velnor_launchers:$PATH"
    unset velnor_launchers velnor_name
  fi
fi

# Ends a suite that needs 32-bit programs (named by $1) on a machine that cannot run them, with
# the exit code CTest counts as skipped.
skip_32bit_suite() {
  echo "skipped: $1 needs 32-bit programs: $VELNOR_WIN32_REASON"
  exit 77
}

# True when 32-bit programs run here; otherwise reports the check named by $1 as not run.
runs_32bit() {
  [ "$VELNOR_WIN32" = 1 ] && return 0
  printf '  skip  %s (%s)\n' "$1" "$VELNOR_WIN32_REASON"
  return 1
}

# The machine field of a PE file's header, four hexadecimal digits: 014c for
# 32-bit x86, 8664 for x64.
pe_machine() {
  local offset
  offset=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -t x2 -j $((offset + 4)) -N 2 "$1" | tr -d ' '
}
