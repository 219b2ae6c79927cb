#!/usr/bin/env bash
# The main job: installs the toolchain when it is missing, builds both architectures, writes
# the package into dist/ and verifies it by installing and uninstalling it under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh" build
"$here/tools/build.sh" all --dist
rm -rf "$here/dist"
mkdir -p "$here/dist/x86" "$here/dist/x64"
cp "$here/build/dist-x86/bin/VelnorIEx32.dll" "$here/dist/x86/"
cp "$here/build/dist-x64/bin/VelnorIEx64.dll" "$here/dist/x64/"
cp "$here/build/dist-x86/bin/VelnorSSOStore.exe" "$here/dist/x86/"
cp "$here/build/dist-x64/bin/VelnorSSOStore.exe" "$here/dist/x64/"
echo "built dist/x86/VelnorIEx32.dll, dist/x64/VelnorIEx64.dll and VelnorSSOStore.exe for both"
"$here/tools/verify-package.sh" "$here/dist" "$here/build/dist-x64/bin/package_check.exe"
