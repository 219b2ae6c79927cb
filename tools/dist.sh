#!/usr/bin/env bash
# The main job: installs the toolchain when it is missing, builds both architectures and
# writes the package into dist/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh" build
"$here/tools/build.sh" all --dist
rm -rf "$here/dist"
mkdir -p "$here/dist/x86" "$here/dist/x64"
cp "$here/build/dist-x86/bin/VelnorIEx32.dll" "$here/dist/x86/"
cp "$here/build/dist-x64/bin/VelnorIEx64.dll" "$here/dist/x64/"
echo "dist/x86/VelnorIEx32.dll"
echo "dist/x64/VelnorIEx64.dll"
