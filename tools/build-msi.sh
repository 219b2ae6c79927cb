#!/usr/bin/env bash
# Builds the Windows Installer package from installer/msi/ with wixl (Debian's package wixl).
#   tools/build-msi.sh DLL32 DLL64 VERSION OUT.msi
# wixl takes only File sources relative to the folder it runs in, so the two DLLs and the WiX
# source are put together in a folder of their own first. The 64-bit store tool is taken from the
# folder of DLL64.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dll32=$(realpath "$1") dll64=$(realpath "$2") version=$3 out=$(realpath -m "$4")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$dll32" "$stage/VelnorIEx32.dll"
cp "$dll64" "$stage/VelnorIEx64.dll"
cp "$(dirname "$dll64")/VelnorSSOStore.exe" "$stage/VelnorSSOStore.exe"
cp "$here"/installer/msi/*.wxs "$here"/installer/msi/*.wxi "$stage/"
(cd "$stage" && wixl -a x64 -D Version="$version" -o package.msi VelnorIE.wxs 2>&1 | grep -v 'g_object_set_is_valid_property' >&2 || true)
[ -s "$stage/package.msi" ] || { echo "build-msi: wixl made no package" >&2; exit 1; }
# wixl takes no component conditions: the agent's Run value is installed only with AGENT=1. The
# condition also holds while the product is removed, so that the value goes with it (Wine's
# msiexec leaves a component alone whose condition is false then, whatever was installed).
msibuild "$stage/package.msi" -q "UPDATE \`Component\` SET \`Condition\` = 'AGENT = 1 OR REMOVE ~= \"ALL\"' WHERE \`Component\` = 'Agent'"
# wixl writes an "expandable" RegistryValue as a plain string: the event source's message file is
# REG_EXPAND_SZ (its documented type, and what the rundll32 installation writes), so the row says so.
msibuild "$stage/package.msi" -q "UPDATE \`Registry\` SET \`Value\` = '#%[INSTALLDIR]VelnorIEx64.dll' WHERE \`Name\` = 'EventMessageFile'"
# Likewise the add-on enabled for all users through the Add-on List policy: only with ENABLEADDON=1.
msibuild "$stage/package.msi" -q "UPDATE \`Component\` SET \`Condition\` = 'ENABLEADDON = 1 OR REMOVE ~= \"ALL\"' WHERE \`Component\` = 'AddonPolicy'"
mv "$stage/package.msi" "$out"
