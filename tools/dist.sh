#!/usr/bin/env bash
# The main job: installs the toolchain when it is missing, builds both architectures, writes
# the package and verifies it by installing and uninstalling it under Wine; only a package that
# passed is published as dist/ (tools/publish.sh: a failed one is set aside as dist-FAILED/,
# without SHA256SUMS, and the job exits non-zero).
#
# dist/ holds stripped DLLs and tools (they load into every tab of every browser process), the
# debug information of each beside it in a file of its own (NAME.debug, found by a debugger
# through the debug link in NAME), the Windows Installer package VelnorIE.msi, the Group Policy
# templates (PolicyDefinitions/VelnorIE.admx, en-US/VelnorIE.adml), and SHA256SUMS of every file.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh" build
. "$here/tools/wine-launcher.sh"
if [ "$VELNOR_WIN32" = 0 ]; then
  echo "== $VELNOR_WIN32_REASON"
  trap 'echo "$VELNOR_WIN32_REASON"' EXIT
fi
"$here/tools/build.sh" all --dist
# The candidate is put together and verified in build/; dist/ only ever holds a verified package.
stage="$here/build/dist-candidate"
rm -rf "$stage"
mkdir -p "$stage/x86" "$stage/x64"
# The product's version, as the DLLs' version resource and the uninstall entry give it.
version=1.0.0.1

# Copies a built file into dist/<arch>, keeps its debug information beside it and strips it.
ship() {  # $1 arch, $2 cross prefix, $3 file
  local arch=$1 cross=$2 name
  name=$(basename "$3")
  cp "$3" "$stage/$arch/"
  (
    cd "$stage/$arch"
    "$cross-objcopy" --only-keep-debug "$name" "$name.debug"
    "$cross-strip" --strip-all "$name"
    "$cross-objcopy" --add-gnu-debuglink="$name.debug" "$name"
  )
}
ship x86 i686-w64-mingw32 "$here/build/dist-x86/bin/VelnorIEx32.dll"
ship x86 i686-w64-mingw32 "$here/build/dist-x86/bin/VelnorSSOStore.exe"
ship x64 x86_64-w64-mingw32 "$here/build/dist-x64/bin/VelnorIEx64.dll"
ship x64 x86_64-w64-mingw32 "$here/build/dist-x64/bin/VelnorSSOStore.exe"
# The Group Policy administrative templates, as the central store takes them.
mkdir -p "$stage/PolicyDefinitions/en-US"
cp "$here/installer/policy/VelnorIE.admx" "$stage/PolicyDefinitions/"
cp "$here/installer/policy/en-US/VelnorIE.adml" "$stage/PolicyDefinitions/en-US/"
# The Windows Installer package, of the stripped DLLs (for deployment with msiexec /qn).
"$here/tools/build-msi.sh" "$stage/x86/VelnorIEx32.dll" "$stage/x64/VelnorIEx64.dll" "$version" "$stage/VelnorIE.msi"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort | xargs sha256sum >SHA256SUMS)

echo "the package:"
(cd "$stage" && find . -type f | sed 's|^\./||' | sort | while read -r file; do
  printf '  %-32s %10d bytes\n' "$file" "$(stat -c %s "$file")"
done)
verified=0
"$here/tools/verify-package.sh" "$stage" "$here/build/dist-x64/bin/package_check.exe" \
  "$here/build/dist-x86/bin/package_check.exe" || verified=$?
"$here/tools/publish.sh" "$stage" "$here/dist" "$verified"
