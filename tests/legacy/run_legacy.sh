#!/usr/bin/env bash
# Runs the legacy-engine suite: the content script as the build ships it (BIN_DIR/../generated,
# made from content/content.js) in Wine's script host (JScript 5.8 in legacy mode) against the
# real DLL of one build, registered in the build's own Wine prefix.
#   run_legacy.sh x86|x64 BIN_DIR WINEPREFIX SOURCE_DIR [--bench|--page-cost]
# With --bench it runs the legacy-engine benchmark of the load pass (bench/content/legacy_bench.js)
# instead, with --page-cost the one of what every page pays (bench/content/page_cost_legacy.js).
# Debian's "wine" launcher always starts the 32-bit loader, which runs the 32-bit script host
# from C:\windows\system32; the 64-bit host needs the 64-bit loader.
set -uo pipefail
arch=$1 bin=$2 prefix=$3 source=$4 mode=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$source/tools/wine-launcher.sh"
[ "$arch" = x86 ] && [ "$VELNOR_WIN32" = 0 ] && skip_32bit_suite "the 32-bit script host"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
script="$(dirname "$bin")/generated/content.js"
if [ ! -s "$script" ]; then
  echo "legacy suite: $script is missing (build this architecture first)" >&2
  exit 1
fi

if [ "$arch" = x64 ]; then
  dll=VelnorIEx64.dll
  host() { WINEPREFIX=$prefix WINEDEBUG=-all /usr/lib/wine/wine64 "$@"; }
else
  dll=VelnorIEx32.dll
  host() { WINEPREFIX=$prefix WINEDEBUG=-all wine "$@"; }
fi
# wine-run.sh creates the prefix on first use.
"$source/cmake/wine-run.sh" "$prefix" cmd /c exit 0 >/dev/null 2>&1

work=$(mktemp -d)
trap 'host "C:\\windows\\system32\\regsvr32.exe" /s /u "$(winpath "$bin/$dll")" >/dev/null 2>&1; rm -rf "$work"' EXIT

if ! host 'C:\windows\system32\regsvr32.exe' /s "$(winpath "$bin/$dll")"; then
  echo "legacy suite: regsvr32 could not register $dll" >&2
  exit 1
fi
if [ -n "$mode" ]; then
  case $mode in
    --bench) bench=legacy_bench.js ;;
    --page-cost) bench=page_cost_legacy.js ;;
    *) echo "legacy suite: unknown mode $mode" >&2; exit 2 ;;
  esac
  cat "$here/page_double.js" "$source/bench/content/$bench" >"$work/bench.js"
  host 'C:\windows\system32\cscript.exe' //nologo "$(winpath "$work/bench.js")" "$(winpath "$script")" \
    "$(winpath "$source/content/content.js")"
  exit
fi
cat "$here/page_double.js" "$here/legacy_suite.js" >"$work/suite.js"
host 'C:\windows\system32\cscript.exe' //nologo "$(winpath "$work/suite.js")" \
  "$(winpath "$script")" "$arch" "$(winpath "$bin")" "$(winpath "$work")" 2>&1 | tr -d '\r' | tee "$work/out.txt" | grep -v '^ok - '

# The script host exits 0 even after an uncaught script error: only the closing line tells that
# the suite ran to its end.
if ! grep -q '^legacy suite finished: [0-9]* passed, 0 failed$' "$work/out.txt"; then
  echo "LEGACY SUITE FAILED ($(grep -c '^not ok' "$work/out.txt") failed checks$(grep -q '^legacy suite finished' "$work/out.txt" || echo ', the suite did not finish'))"
  exit 1
fi
echo "legacy suite passed: $(grep -c '^ok - ' "$work/out.txt") checks"
