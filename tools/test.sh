#!/usr/bin/env bash
# The test command: installs what is missing, builds both architectures and runs every test
# suite of the project. Exits non-zero when any test fails.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
set -e
"$here/tools/setup.sh" test
. "$here/tools/wine-launcher.sh"
if [ "$VELNOR_WIN32" = 0 ]; then
  echo "== $VELNOR_WIN32_REASON"
  echo "   the 32-bit build is built, its suites are reported as skipped, and the checks that need"
  echo "   a 32-bit process are left out"
  # The reason again as the command's last line, whatever the outcome.
  trap 'echo "$VELNOR_WIN32_REASON"' EXIT
fi
"$here/tools/build.sh" all
set +e

failed=0
logs=$(mktemp -d)
# The two architectures run side by side, each in its own Wine prefix.
for arch in x86 x64; do
  ( cd "$here/build/$arch" && ctest --output-on-failure --timeout 900 ) >"$logs/$arch.log" 2>&1 &
  echo $! >"$logs/$arch.pid"
done
for arch in x86 x64; do
  if wait "$(cat "$logs/$arch.pid")"; then
    echo "== $arch: passed"; sed -n "/tests passed/,\$p" "$logs/$arch.log"
  else
    echo "== $arch: FAILED"; cat "$logs/$arch.log"; failed=1
  fi
done
for arch in x86 x64; do
  WINEPREFIX="$here/build/$arch/wineprefix" wineserver -k 2>/dev/null || true
done

echo "== set-up"
if ! "$here/tests/setup/setup_test.sh"; then failed=1; fi

if [ -f "$here/tests/content/package.json" ]; then
  echo "== content script"
  # Its suites of recording and outcomes run the x64 build's store tool and store under Wine:
  # here they must run, never be skipped.
  if ! (cd "$here/tests/content" && VELNOR_REQUIRE_WINE=1 npm test --silent); then failed=1; fi
  WINEPREFIX="$here/build/x64/wineprefix" wineserver -k 2>/dev/null || true
fi

rm -rf "$logs"
if [ $failed -ne 0 ]; then echo "TESTS FAILED"; exit 1; fi
echo "ALL TESTS PASSED"
