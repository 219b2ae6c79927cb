#!/usr/bin/env bash
# Builds and runs the benchmarks (figures for the README; never part of the test pass/fail).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh" test
"$here/tools/build.sh" all >/dev/null
for arch in x86 x64; do
  run="$here/cmake/wine-run.sh $here/build/$arch/wineprefix"
  echo "== log writer, $arch"
  $run "$here/build/$arch/bin/log_writer_bench.exe"
  echo "== XPath lookup, $arch"
  $run "$here/build/$arch/bin/xpath_bench.exe"
  echo "== reading Templates with and without template isolation, $arch"
  $run "$here/build/$arch/bin/isolation_bench.exe"
done
echo "== content script (legacy JScript engine, x86 and x64)"
for arch in x86 x64; do
  bash "$here/tests/legacy/run_legacy.sh" $arch "$here/build/$arch/bin" "$here/build/$arch/wineprefix" "$here" --bench
done
echo "== content script (Chromium)"
(cd "$here/tests/content" && npm run bench --silent)
