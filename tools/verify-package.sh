#!/usr/bin/env bash
# Verifies the package as a release engineer would: in a fresh throwaway Wine prefix (64-bit,
# like 64-bit Windows) it puts both DLLs in one folder, runs
#   rundll32.exe <folder>\VelnorIEx32.dll,DllInstallExt
# as a user would, reports what the installation left, uninstalls through the uninstall
# entry's own command and reports what is left. Exits non-zero when either did not do what it
# promises.
# Then it verifies the Windows Installer package the same way (tools/verify-msi.sh).
# On a machine that cannot execute 32-bit programs the 64-bit copy installs itself instead, and
# only what that installation does is checked.
#   tools/verify-package.sh DIST_DIR PACKAGE_CHECK_EXE PACKAGE_CHECK_32_EXE
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "$1" && pwd)
check_exe=$2
check32_exe=$3
. "$here/tools/wine-lib.sh"
unset DISPLAY WAYLAND_DISPLAY


echo "== the package's files"
if (cd "$dist" && sha256sum --quiet -c SHA256SUMS); then ok "every file matches SHA256SUMS"; else bad "SHA256SUMS does not match the files"; fi
for file in x86/VelnorIEx32.dll x64/VelnorIEx64.dll x86/VelnorSSOStore.exe x64/VelnorSSOStore.exe; do
  if [ -f "$dist/$file.debug" ] && ! objdump -h "$dist/$file" 2>/dev/null | grep -q '\.debug_info' &&
     objdump -h "$dist/$file" 2>/dev/null | grep -q '\.gnu_debuglink'; then
    ok "$file is stripped and links to $file.debug"
  else
    bad "$file is not stripped with its debug information beside it"
  fi
done

"$here/tools/check-policy-templates.sh" "$dist/PolicyDefinitions" || failures=$((failures + 1))
"$here/tools/check-imports.sh" "$dist/x86/VelnorIEx32.dll" "$dist/x64/VelnorIEx64.dll" "$dist/x86/VelnorSSOStore.exe" "$dist/x64/VelnorSSOStore.exe" || failures=$((failures + 1))

prefix=$(mktemp -d /tmp/velnor-verify.XXXXXX)
trap 'wineserver -k 2>/dev/null; rm -rf "$prefix"' EXIT
echo "== preparing a fresh Wine prefix"
wine_new_prefix "$prefix/wine"

package='C:\velnor-package'
mkdir -p "$(wine_unix "$package")"
cp "$dist/x86/VelnorIEx32.dll" "$dist/x64/VelnorIEx64.dll" "$(wine_unix "$package")/"
cp "$check_exe" "$(wine_unix 'C:\package_check.exe')"

# The 32-bit DLL runs in the 32-bit rundll32.exe, as on 64-bit Windows, and installs both.
if runs_32bit "the 32-bit copy's installation of both builds"; then
  dlls='VelnorIEx32.dll VelnorIEx64.dll' views='32 64' rundll='C:\windows\syswow64\rundll32.exe'
else
  dlls=VelnorIEx64.dll views=64 rundll='C:\windows\system32\rundll32.exe'
fi
first=${dlls%% *}
echo "== install: $rundll $package\\$first,DllInstallExt"
wine "$rundll" "$package\\$first,DllInstallExt"
wineserver -w

installed=$(wine_unix "$INSTALL_DIR")
echo "install folder $INSTALL_DIR:"
ls -l "$installed" 2>/dev/null | sed 1d | awk '{printf "  %s  %s bytes\n", $NF, $5}'
for dll in $dlls; do
  if cmp -s "$installed/$dll" "$(wine_unix "$package")/$dll"; then ok "$dll installed, identical to the package"; else bad "$dll not installed as packaged"; fi
done
echo "registered class and ProgIDs:"
for view in 32 64; do
  server=$(reg_value "HKCR\\CLSID\\$CLSID\\InprocServer32" "" $view)
  echo "  $view-bit view: CLSID $CLSID -> $server"
done
for view in $views; do
  copy=VelnorIEx64.dll; [ $view = 32 ] && copy=VelnorIEx32.dll
  expect "$view-bit class served by the installed $view-bit copy" "$(reg_value "HKCR\\CLSID\\$CLSID\\InprocServer32" "" $view)" "$INSTALL_DIR\\$copy"
done
for progid in VelnorIE.VelnorIEExt VelnorIE.VelnorIEExt.1; do
  expect "ProgID $progid" "$(reg_value "HKCR\\$progid\\CLSID" "" 64)" "$CLSID"
done
echo "Browser Helper Objects:"
for view in $views; do
  name=$(reg_value "$BHO_KEY\\$CLSID" "" $view)
  echo "  $view-bit view: $CLSID = '$name', NoExplorer = $(reg_value "$BHO_KEY\\$CLSID" NoExplorer $view)"
  expect "Browser Helper Object in the $view-bit view" "$name" "VelnorIEExt"
done
echo "uninstall entry:"
command=$(reg_value "$UNINSTALL_KEY" UninstallString 64)
echo "  UninstallString = $command"
echo "  DisplayName = $(reg_value "$UNINSTALL_KEY" DisplayName 64), Publisher = $(reg_value "$UNINSTALL_KEY" Publisher 64), DisplayVersion = $(reg_value "$UNINSTALL_KEY" DisplayVersion 64)"
expect "one uninstall entry, run by the 64-bit copy through rundll32.exe by its full path" "$command" "\"$SYSTEM_RUNDLL32\" \"$INSTALL_DIR\\VelnorIEx64.dll\",DllUninstallExt"
expect "no second entry in the 32-bit view" "$(reg_value "$UNINSTALL_KEY" UninstallString 32)" ""
if wine 'C:\package_check.exe' mutex-absent; then ok "installation mutex gone"; else bad "installation mutex still there"; fi

echo "== uninstall: $command"
wine 'C:\package_check.exe' run-uninstall
wineserver -w
# The uninstalling copy, loaded by the uninstall's own process, is deleted at the next restart.
expect "only the uninstalling copy is left, moved aside" "$(ls "$installed" 2>/dev/null | tr '\n' ' ')" "VelnorIEx64.dll.bak "
wine_restart
wineserver -w
if [ -e "$installed" ]; then bad "install folder still there after a restart: $(ls "$installed" | tr '\n' ' ')"; else ok "install folder removed at the next restart"; fi
for view in 32 64; do
  if reg_key_exists "HKCR\\CLSID\\$CLSID" $view; then bad "class still registered ($view-bit view)"; else ok "class unregistered ($view-bit view)"; fi
  if reg_key_exists "$BHO_KEY\\$CLSID" $view; then bad "Browser Helper Object still there ($view-bit view)"; else ok "Browser Helper Object removed ($view-bit view)"; fi
  if reg_key_exists "$UNINSTALL_KEY" $view; then bad "uninstall entry still there ($view-bit view)"; else ok "no uninstall entry ($view-bit view)"; fi
done
temp=$(wine_unix 'C:\users')/$(whoami)/Temp
for dll in $dlls; do
  if [ -e "$temp/$dll.bak" ]; then bad "a copy was moved into the user's temporary folder"; else ok "nothing of $dll moved into the user's temporary folder"; fi
done

wineserver -k 2>/dev/null
rm -rf "$prefix"
if ! "$here/tools/verify-msi.sh" "$dist/VelnorIE.msi" "$dist/x86/VelnorIEx32.dll" "$dist/x64/VelnorIEx64.dll" \
     "$check32_exe" "$check_exe"; then
  failures=$((failures + 1))
fi

if [ $failures -ne 0 ]; then echo "PACKAGE VERIFICATION FAILED ($failures)"; exit 1; fi
echo "package verified"
