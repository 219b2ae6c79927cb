#!/usr/bin/env bash
# Builds and runs the benchmarks (figures for the README; never part of the test pass/fail).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh" test
"$here/tools/build.sh" all >/dev/null
. "$here/tools/wine-launcher.sh"
arches='x86 x64'
if [ "$VELNOR_WIN32" = 0 ]; then
  echo "== the 32-bit build's benchmarks are left out: $VELNOR_WIN32_REASON"
  arches=x64
fi
for arch in $arches; do
  run="$here/cmake/wine-run.sh $here/build/$arch/wineprefix"
  echo "== log writer, $arch"
  $run "$here/build/$arch/bin/log_writer_bench.exe"
  echo "== XPath lookup, $arch"
  $run "$here/build/$arch/bin/xpath_bench.exe"
  echo "== reading Templates with and without template isolation, $arch"
  $run "$here/build/$arch/bin/isolation_bench.exe"
  echo "== a page's write applied as a change to what it read, against the plain write, $arch (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  $run "$here/build/$arch/bin/store_write_bench.exe"
  echo "== what each tab pays: load, navigation, leaving, Basic authentication, $arch (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  $run "$here/build/$arch/bin/tab_cost.exe"
done
echo "== content script (legacy JScript engine, $arches)"
for arch in $arches; do
  bash "$here/tests/legacy/run_legacy.sh" $arch "$here/build/$arch/bin" "$here/build/$arch/wineprefix" "$here" --bench
  echo "== what every page pays for the content script (legacy JScript engine, IE7 mode, $arch; load average $(cut -d' ' -f1-3 /proc/loadavg))"
  bash "$here/tests/legacy/run_legacy.sh" $arch "$here/build/$arch/bin" "$here/build/$arch/wineprefix" "$here" --page-cost
done
echo "== content script (Chromium; load average $(cut -d' ' -f1-3 /proc/loadavg))"
(cd "$here/tests/content" && npm run bench --silent)
