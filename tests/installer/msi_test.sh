#!/usr/bin/env bash
# The Windows Installer package of this build's DLLs, built and verified as the main job verifies
# the release's (tools/verify-msi.sh).
#   msi_test.sh BIN_DIR X64_BIN_DIR WORK_DIR SOURCE_DIR
set -euo pipefail
bin=$1 bin64=$2 work=$3 source=$4
mkdir -p "$work"
"$source/tools/build-msi.sh" "$bin/VelnorIEx32.dll" "$bin64/VelnorIEx64.dll" 1.0.0.1 "$work/VelnorIE.msi"
exec "$source/tools/verify-msi.sh" "$work/VelnorIE.msi" "$bin/VelnorIEx32.dll" "$bin64/VelnorIEx64.dll" \
  "$bin/package_check.exe" "$bin64/package_check.exe"
