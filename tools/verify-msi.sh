#!/usr/bin/env bash
# Verifies the Windows Installer package as an administrator deploying it would, in a fresh
# throwaway Wine prefix (64-bit, like 64-bit Windows), against the rundll32 installation of the
# same DLLs:
#   1. rundll32.exe VelnorIEx32.dll,DllInstallExt QUIET: its registry rows, then its uninstall
#      entry's command, after which nothing is left (on a machine that cannot execute 32-bit
#      programs: VelnorIEx64.dll's installation and its rows only);
#   2. msiexec /i of an older package, then of this one, quietly (/qn): one entry in the list of
#      installed programs, the later version; the same registry rows as the rundll32
#      installation, compared as 64-bit Windows keeps them (a key both views share once, a
#      redirected key per view: package_check dump-rows), and no row of a shared key in a 32-bit
#      component of the package; the class created through COM by a 32-bit and a 64-bit program; a
#      repair that puts a deleted file back;
#   3. msiexec /x: no file, no registry row, no entry left;
#   4. a rundll32 installation taken over by msiexec /i: one entry, the package's; msiexec /x
#      then leaves nothing, not the rundll32 installation's entry either;
#   5. msiexec /i AGENT=1: the store tool's agent started at every user's logon; msiexec /x
#      removes it.
#   6. msiexec /i ENABLEADDON=1: the Add-on List policy's values for the class (none without it),
#      and the event source; msiexec /x removes both.
#   tools/verify-msi.sh MSI DLL32 DLL64 PACKAGE_CHECK_32 PACKAGE_CHECK_64
# Exits non-zero when anything is not as it should be.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
msi=$(realpath "$1") dll32=$2 dll64=$3 check32=$4 check64=$5
. "$here/tools/wine-lib.sh"
unset DISPLAY WAYLAND_DISPLAY


work=$(mktemp -d /tmp/velnor-msi.XXXXXX)
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
echo "== the Windows Installer package $(basename "$msi") ($(stat -c %s "$msi") bytes)"
wine_new_prefix "$work/wine"
package='C:\velnor-package'
mkdir -p "$(wine_unix "$package")"
cp "$dll32" "$(wine_unix "$package")/VelnorIEx32.dll"
cp "$dll64" "$(wine_unix "$package")/VelnorIEx64.dll"
cp "$check64" "$(wine_unix 'C:\package_check.exe')"
cp "$check32" "$(wine_unix 'C:\package_check32.exe')"
cp "$msi" "$(wine_unix 'C:\VelnorIE.msi')"
# An older release: Windows Installer compares the first three fields of a version only.
"$here/tools/build-msi.sh" "$dll32" "$dll64" 0.9.0 "$(wine_unix 'C:\VelnorIE-older.msi')"
rows() { wine 'C:\package_check.exe' dump-rows | tr -d '\r'; }
# The 64-bit msiexec, as on 64-bit Windows (Debian's "wine" would start the 32-bit one).
msiexec() { /usr/lib/wine/wine64 msiexec "$@"; }
entries() { wine 'C:\package_check.exe' arp-entries 'Zorvanti MSIE Extension' | tr -d '\r'; }
installed=$(wine_unix "$INSTALL_DIR")

# The 32-bit copy installs both builds, as on 64-bit Windows. Where 32-bit programs cannot run,
# the 64-bit copy installs itself, and only the rows of the 64-bit registration are compared
# below: the 64-bit view and the shared keys, without the type library's win32 entry (written
# into the shared key by the 32-bit registration).
if runs_32bit "the 32-bit registration's rows"; then
  installer_dll=VelnorIEx32.dll rundll='C:\windows\syswow64\rundll32.exe' builds=2
  compared_rows() { rows; }
else
  installer_dll=VelnorIEx64.dll rundll='C:\windows\system32\rundll32.exe' builds=1
  compared_rows() { rows | grep -E '^(64|shared) ' | grep -Fv '\win32'; }
fi
echo "== rundll32 ...\\$installer_dll,DllInstallExt QUIET"
wine 'C:\package_check.exe' run "$rundll $package\\$installer_dll,DllInstallExt QUIET"
expect "the quiet installation reports success in its exit code" "$?" 0
wineserver -w
compared_rows >"$work/rundll32-rows.txt"
expect "the rundll32 installation registered the builds" "$(grep -c 'InprocServer32 \[\]' "$work/rundll32-rows.txt")" "$builds"
wine 'C:\package_check.exe' run-uninstall
wineserver -w
expect "its uninstall leaves no registry row" "$(rows | wc -l)" 0
# (its own copy, which its process had loaded, goes at the next restart)
wine_restart
wineserver -w

echo "== msiexec /i VelnorIE-older.msi /qn, then msiexec /i VelnorIE.msi /qn"
msiexec /i 'C:\VelnorIE-older.msi' /qn
expect "the older package installs" "$?" 0
wineserver -w
expect "one entry, the older version" "$(entries | awk '{print $2}')" "0.9.0"
msiexec /i 'C:\VelnorIE.msi' /qn
expect "the package installs over it" "$?" 0
wineserver -w
expect "one entry in the list of installed programs, the later version" "$(entries | awk '{print $2}')" "1.0.0.1"
for dll in VelnorIEx32.dll VelnorIEx64.dll; do
  if cmp -s "$installed/$dll" "$(wine_unix "$package")/$dll"; then ok "$dll installed into $INSTALL_DIR"; else bad "$dll not installed"; fi
done
compared_rows >"$work/msi-rows.txt"
if diff -u "$work/rundll32-rows.txt" "$work/msi-rows.txt" >"$work/rows.diff"; then
  ok "the package writes exactly the rows the rundll32 installation writes ($(wc -l <"$work/msi-rows.txt") rows)"
else
  bad "the package's rows differ from the rundll32 installation's:"; sed 's/^/        /' "$work/rows.diff"
fi
expect "the AppContainer category under the class key, in each build's view" \
  "$(grep -c 'CLSID\\{5D3A8C21-7E4B-4F19-A6D2-3B9E0C7F1A54}\\Implemented Categories\\{59FB2056-D625-48D0-A944-1A85B5AB2640}$' "$work/msi-rows.txt")" "$builds"
# A 32-bit component's rows land in the 32-bit view; for a key Windows shares that is under
# Wow6432Node\Classes, where no program looks (read from the package itself: Wine 8 shares and
# redirects some of these keys otherwise than Windows, so its registry cannot tell).
components32=$(msiinfo export "$msi" Component | tr -d '\r' | awk -F'\t' 'NR > 3 && int($4 / 256) % 2 == 0 {print $1}')
stray=$(msiinfo export "$msi" Registry | tr -d '\r' | awk -F'\t' -v list="$components32" '
  BEGIN { n = split(list, names, "\n"); for (i = 1; i <= n; i++) is32[names[i]] = 1 }
  NR > 3 && ($6 in is32) && $3 ~ /^Software\\Classes\\/ &&
    $3 !~ /^Software\\Classes\\(CLSID|Interface|DirectShow|Media Type|MediaFoundation)(\\|$)/ {print $6 ": " $3}')
if [ -z "$stray" ]; then ok "no row of a key both views share in a 32-bit component"; else
  bad "rows of shared keys in 32-bit components (Windows would write them under Wow6432Node\\Classes):"
  printf '%s\n' "$stray" | sed 's/^/        /'; fi
for program in package_check32 package_check; do
  [ $program = package_check32 ] && ! runs_32bit "a 32-bit program creates the class through COM" && continue
  out=$(wine "C:\\$program.exe" create-class | tr -d '\r')
  expect "$program creates the class through COM" "$out" "CoCreateInstance: 0x00000000, Status ready"
done

# A repair as msiexec /i ... REINSTALL=ALL does it (Wine's msiexec has no working /f).
echo "== msiexec /i VelnorIE.msi REINSTALL=ALL REINSTALLMODE=amus /qn (repair), then msiexec /x VelnorIE.msi /qn"
rm -f "$installed/VelnorIEx32.dll"
msiexec /i 'C:\VelnorIE.msi' REINSTALL=ALL REINSTALLMODE=amus /qn
expect "the repair runs" "$?" 0
wineserver -w
if cmp -s "$installed/VelnorIEx32.dll" "$(wine_unix "$package")/VelnorIEx32.dll"; then ok "the repair puts a missing file back"; else bad "the repair did not restore the file"; fi
msiexec /x 'C:\VelnorIE.msi' /qn
expect "the package uninstalls" "$?" 0
wineserver -w
left=$(rows)
if [ -z "$left" ]; then ok "no registry row left"; else bad "rows left:"; printf '%s\n' "$left" | sed 's/^/        /'; fi
if [ -e "$installed" ]; then bad "install folder left: $(ls "$installed" | tr '\n' ' ')"; else ok "no install folder left"; fi
expect "no entry in the list of installed programs" "$(entries)" ""

echo "== rundll32 ...\\$installer_dll,DllInstallExt QUIET, then msiexec /i VelnorIE.msi /qn (takeover), then msiexec /x"
wine 'C:\package_check.exe' run "$rundll $package\\$installer_dll,DllInstallExt QUIET"
expect "the rundll32 installation" "$?" 0
wineserver -w
expect "its entry is listed" "$(entries | awk '{print $1}')" "VelnorIEExt"
msiexec /i 'C:\VelnorIE.msi' /qn
expect "the package installs over it" "$?" 0
wineserver -w
listed=$(entries)
if [ "$(printf '%s\n' "$listed" | grep -c .)" = 1 ] && [[ $listed == "{"*" 1.0.0.1" ]]; then
  ok "one entry in the list of installed programs, the package's ($listed)"
else
  bad "entries after the takeover: $(printf '%s' "$listed" | tr '\n' ';')"
fi
compared_rows >"$work/takeover-rows.txt"
if diff -q "$work/rundll32-rows.txt" "$work/takeover-rows.txt" >/dev/null; then ok "the same rows"; else bad "rows differ after the takeover"; fi
msiexec /x 'C:\VelnorIE.msi' /qn
expect "the package uninstalls" "$?" 0
wineserver -w
expect "no registry row left" "$(rows | wc -l)" 0
if [ -e "$installed" ]; then bad "install folder left: $(ls "$installed" | tr '\n' ' ')"; else ok "no install folder left"; fi
expect "no entry in the list of installed programs" "$(entries)" ""
if reg_key_exists "$UNINSTALL_KEY" 64 || reg_key_exists "$UNINSTALL_KEY" 32; then bad "the rundll32 installation's entry is left"; else ok "not the rundll32 installation's entry either"; fi

echo "== msiexec /i VelnorIE.msi AGENT=1 /qn, then msiexec /x"
run_value() { reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' VelnorSSOAgent 64; }
msiexec /i 'C:\VelnorIE.msi' AGENT=1 /qn
expect "the package installs with its agent" "$?" 0
wineserver -w
expect "the agent starts at every user's logon" "$(run_value)" "\"$INSTALL_DIR\VelnorSSOStore.exe\" agent --run"
addon_value() { reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\Ext\CLSID' "$CLSID" 64; }
expect "without ENABLEADDON=1 the Add-on List is left alone" "$(addon_value)" ""
if [ -f "$installed/VelnorSSOStore.exe" ]; then ok "the store tool is installed"; else bad "no store tool in $INSTALL_DIR"; fi
msiexec /x 'C:\VelnorIE.msi' /qn
expect "the package uninstalls" "$?" 0
wineserver -w
expect "the agent's Run value goes with it" "$(run_value)" ""
if [ -e "$installed" ]; then bad "install folder left: $(ls "$installed" | tr '\n' ' ')"; else ok "no install folder left"; fi

echo "== msiexec /i VelnorIE.msi ENABLEADDON=1 /qn: the add-on enabled for all users, then msiexec /x"
msiexec /i 'C:\VelnorIE.msi' ENABLEADDON=1 /qn
expect "the package installs" "$?" 0
wineserver -w
expect "the Add-on List names the class, enabled" "$(addon_value)" 1
expect "the Add-on List policy is on" \
  "$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\Ext' ListBox_Support_CLSID 64)" 0x1
expect "the event source names the 64-bit DLL's message table" \
  "$(reg_value "$EVENT_SOURCE_KEY" EventMessageFile 64)" \
  "$INSTALL_DIR\VelnorIEx64.dll"
msiexec /x 'C:\VelnorIE.msi' /qn
expect "the package uninstalls" "$?" 0
wineserver -w
expect "the Add-on List values go with it" "$(addon_value)" ""
if reg_key_exists "$EVENT_SOURCE_KEY" 64; then
  bad "the event source is left"
else
  ok "the event source goes with it"
fi

if [ $failures -ne 0 ]; then echo "WINDOWS INSTALLER PACKAGE CHECK FAILED ($failures)"; exit 1; fi
echo "Windows Installer package verified"
