#!/usr/bin/env bash
# The import check of the package (tools/check-imports.sh) on this build's binaries, and on a
# program that imports a function newer than Windows 7, which it must refuse.
#   imports_test.sh SOURCE_DIR BIN_DIR DLL_NAME
set -uo pipefail
source=$1 bin=$2 dll=$3
failures=0
if "$source/tools/check-imports.sh" "$bin/$dll" "$bin/VelnorSSOStore.exe"; then
  echo "  ok    the DLL and the store tool import only what Windows 7 has"
else
  echo "  FAIL  the DLL or the store tool imports something Windows 7 does not have"; failures=$((failures + 1))
fi
out=$("$source/tools/check-imports.sh" "$bin/newer_import.exe")
if [ $? -ne 0 ] && printf '%s\n' "$out" | grep -q 'GetSystemTimePreciseAsFileTime (not on Windows 7)'; then
  echo "  ok    a program importing GetSystemTimePreciseAsFileTime is refused"
else
  echo "  FAIL  the check let a Windows 8 import through: $out"; failures=$((failures + 1))
fi
[ $failures -eq 0 ]
