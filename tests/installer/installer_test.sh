#!/usr/bin/env bash
# The installer and uninstaller under Wine, driven as a user drives them: rundll32.exe from an
# unelevated shell, the uninstall entry's own command. The closing message box needs a display:
# the test runs Wine on its own Xvfb server with a watcher that reads and presses every box.
#   installer_test.sh x86|x64 BIN_DIR X64_BIN_DIR WORK_DIR
set -uo pipefail
arch=$1 bin=$2 bin64=$3 work=$4
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/tools/wine-lib.sh"
[ "$arch" = x86 ] && [ "$VELNOR_WIN32" = 0 ] && skip_32bit_suite "the 32-bit installer"

mkdir -p "$work"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
trap 'kill $watcher 2>/dev/null; wineserver -k 2>/dev/null; kill $xvfb 2>/dev/null' EXIT

echo "== fresh prefix"
wine_new_prefix "$work/prefix"
package='C:\package'
pkg=$(wine_unix "$package")
mkdir -p "$pkg"
cp "$bin/VelnorIEx32.dll" "$pkg/" 2>/dev/null
cp "$bin64/VelnorIEx64.dll" "$pkg/"
# A 64-bit helper, like the 64-bit shell that runs an uninstall entry on 64-bit Windows (a
# 32-bit process would find the 32-bit rundll32.exe, which cannot load the 64-bit copy).
cp "$bin64/package_check.exe" "$(wine_unix 'C:\package_check.exe')"
installed=$(wine_unix "$INSTALL_DIR")
temp=$(wine_unix 'C:\users')/$(whoami)/Temp
# Both builds trace into one log, each from its own registry view.
for view in 32 64; do
  wine reg add 'HKLM\SOFTWARE\Pellor' /v InstallPath /d 'C:\velnor' /reg:$view /f >/dev/null
  wine reg add 'HKLM\SOFTWARE\Pellor' /v LogLevel /t REG_DWORD /d 2 /reg:$view /f >/dev/null
done
mkdir -p "$(wine_unix 'C:\velnor\logs')"
log=$(wine_unix 'C:\velnor\logs\log.txt')
dialogs="$work/dialogs.txt"
: >"$dialogs"
wine 'C:\package_check.exe' watch-dialogs 'Z:'"$(printf '%s' "$dialogs" | tr '/' '\\')" &
watcher=$!
sleep 1

run_install() {  # rundll32 DllInstallExt with the given command-line text, as a user would
  : >"$log"
  : >"$dialogs"
  # The command line exactly as typed at a prompt; a 32-bit DLL needs the 32-bit rundll32.
  local rundll=rundll32.exe
  [ "$1" = VelnorIEx32.dll ] && rundll='C:\windows\syswow64\rundll32.exe'
  wine 'C:\package_check.exe' run "$rundll $package\\$1,DllInstallExt${2:+ $2}"
  sleep 1
}
lines() { tr -d '\r' <"$log" | grep -c -- "$1"; }
message='Installer	Zorvanti extension has been installed. Please press OK and restart Internet Explorer.'
failed_message='Zorvanti extension could not be installed. Nothing has been changed. Please run the installer again as an administrator.'

# An unelevated process of the user can change the user's environment for the elevated run it
# starts: the elevated run must take its folders from the system.
wine reg add 'HKCU\Environment' /v ProgramW6432 /d 'C:\users\Public\evil' /f >/dev/null
wine reg add 'HKCU\Environment' /v ProgramFiles /d 'C:\users\Public\evil' /f >/dev/null
evil=$(wine_unix 'C:\users\Public\evil')

# What an elevated run must never do, whatever it is run from (checked after the installation):
#   $1 the DLL, $2 the rundll32.exe that loads it, $3 how many runs register in place
hardening_checks() {
  local dll=$1 rundll=$2 in_place=$3 before spelling short
  if [ -e "$evil" ]; then bad "something was put into the folder the user's environment named"; else ok "the environment's Program Files was not used"; fi

  echo "== a quiet installation shows nothing and reports through its exit code and the log"
  : >"$log"; : >"$dialogs"
  wine 'C:\package_check.exe' run "$rundll \"$INSTALL_DIR\\$dll\",DllInstallExt QUIET"
  expect "exit code 0" "$?" 0
  sleep 1
  expect "no message box" "$(wc -l <"$dialogs")" 0
  expect "the log says so" "$(lines 'DllInstallExt() -> installed')" "$in_place"
  : >"$log"
  mkdir -p "$installed/$dll.new"
  printf 'a newer build' >>"$pkg/$dll"
  wine 'C:\package_check.exe' run "$rundll $package\\$dll,DllInstallExt QUIET"
  expect "a failed quiet installation ends with exit code 1" "$?" 1
  sleep 1
  expect "and shows nothing either" "$(wc -l <"$dialogs"):$(lines 'DllInstallExt() -> failed')" "0:1"
  rmdir "$installed/$dll.new"
  cp "$work/original.dll" "$pkg/$dll"

  echo "== reinstalling from the install folder, by its own path and by its short name"
  before=$(cksum <"$installed/$dll")
  short=$(wine 'C:\package_check.exe' short-path "$INSTALL_DIR\\$dll" | tr -d '\r')
  for spelling in "$INSTALL_DIR\\$dll" "$short"; do
    printf 'planted by the user' >"$temp/$dll.bak"
    : >"$log"; : >"$dialogs"
    wine 'C:\package_check.exe' run "$rundll \"$spelling\",DllInstallExt"
    sleep 1
    expect "$spelling: the same bytes stay installed" "$(cksum <"$installed/$dll")" "$before"
    expect "$spelling: nothing taken from the temporary folder" "$(cat "$temp/$dll.bak")" "planted by the user"
    # (the 32-bit build's run also starts its installed twin, which registers itself in place too)
    expect "$spelling: registered where it is" "$(lines 'registering the installed copy in place'):$(cat "$dialogs")" "$in_place:$message"
  done
  [ -n "$short" ] && [ "$short" != "$INSTALL_DIR\\$dll" ] && ok "the short name differs from the long one ($short)" || bad "no short name to try"

  echo "== a copy that fails changes nothing and registers nothing"
  mkdir -p "$installed/$dll.new"          # the copy's place is taken
  printf 'a newer build' >>"$pkg/$dll"
  : >"$log"; : >"$dialogs"
  wine 'C:\package_check.exe' run "$rundll $package\\$dll,DllInstallExt"
  sleep 1
  expect "the failure is shown" "$(cat "$dialogs")" "Installer	$failed_message"
  expect "the installed copy is untouched" "$(cksum <"$installed/$dll")" "$before"
  expect "nothing registered, no twin started" "$(lines 'copy failed'):$(lines 'ShellExecuteProcess64')" "1:0"
  rmdir "$installed/$dll.new"

  echo "== an over-long temporary folder does not matter: the temporary folder is not used"
  local temp_value tmp_value long='C:\\'
  temp_value=$(reg_value 'HKCU\Environment' TEMP 64)
  tmp_value=$(reg_value 'HKCU\Environment' TMP 64)
  for part in 1 2 3; do long="$long$(printf 'd%.0s' $(seq 99))$part\\"; done
  wine reg add 'HKCU\Environment' /v TEMP /d "$long" /f >/dev/null
  wine reg add 'HKCU\Environment' /v TMP /d "$long" /f >/dev/null
  printf 'a newer build' >>"$pkg/$dll"
  : >"$log"; : >"$dialogs"
  wine 'C:\package_check.exe' run "$rundll $package\\$dll,DllInstallExt"
  sleep 1
  wine reg add 'HKCU\Environment' /v TEMP /t REG_EXPAND_SZ /d "$temp_value" /f >/dev/null
  wine reg add 'HKCU\Environment' /v TMP /t REG_EXPAND_SZ /d "$tmp_value" /f >/dev/null
  expect "installed" "$(cat "$dialogs")" "$message"
  if cmp -s "$installed/$dll" "$pkg/$dll"; then ok "the new copy is installed"; else bad "the new copy is not installed"; fi
  if ls "$(wine_unix 'C:\windows')"/*/"$dll.bak" "$(wine_unix 'C:\')"/"$dll.bak" >/dev/null 2>&1; then bad "a copy landed in a relative place"; else ok "no copy in a relative place"; fi
  expect "the previous copy taken out of the install folder" "$(ls "$installed" | grep -c '\.bak$')" 0
  cp "$work/original.dll" "$pkg/$dll"
}

# Enhanced Protected Mode (AppContainer) tabs load only add-ons of this category.
CATEGORY_KEY='Implemented Categories\{59FB2056-D625-48D0-A944-1A85B5AB2640}'
expect_category() {
  local view
  for view in "$@"; do
    if reg_key_exists "HKCR\\CLSID\\$CLSID\\$CATEGORY_KEY" $view; then ok "AppContainer category in the $view-bit view"
    else bad "no AppContainer category in the $view-bit view"; fi
  done
}

if [ "$arch" = x86 ]; then
  echo "== the whole chain from an unelevated run"
  run_install VelnorIEx32.dll ""
  for dll in VelnorIEx32.dll VelnorIEx64.dll; do
    if cmp -s "$installed/$dll" "$pkg/$dll"; then ok "$dll installed, byte-identical"; else bad "$dll not installed as in the package"; fi
  done
  expect "registered from the installed 32-bit copy" "$(reg_value "HKCR\\CLSID\\$CLSID\\InprocServer32" "" 32)" "$INSTALL_DIR\\VelnorIEx32.dll"
  expect "twin registered from its installed copy" "$(reg_value "HKCR\\CLSID\\$CLSID\\InprocServer32" "" 64)" "$INSTALL_DIR\\VelnorIEx64.dll"
  expect_category 32 64
  expect "the launching run, the elevated run and the twin ran" "$(lines 'DllInstallExt() -> fAlreadyStarted=')" 3
  expect "elevated run and twin were started with ADMIN" "$(lines 'DllInstallExt() -> ADMIN$')" 2
  expect "the 32-bit elevated run knows it is on 64-bit Windows" "$(lines 'DllInstallExt() -> fWow64Process=1')" 1
  expect "the 32-bit run started the twin" "$(lines 'DllInstallExt() -> ShellExecuteProcess64')" 1
  expect "the twin wrote the one uninstall entry" "$(lines 'DllInstallExt() -> RegSetKeyStr')" 1
  expect "one message box, with the product's text and caption" "$(cat "$dialogs")" "$message"
  if wine 'C:\package_check.exe' mutex-absent; then ok "installation mutex gone"; else bad "installation mutex still there"; fi

  echo "== a second launching run while one is under way"
  wine 'C:\package_check.exe' hold-mutex 20000 &
  holder=$!
  for _ in $(seq 100); do wine 'C:\package_check.exe' mutex-absent || break; sleep 0.1; done
  run_install VelnorIEx32.dll ""
  expect "it returns at once" "$(lines 'fAlreadyStarted=1'):$(lines 'fWow64Process'):$(wc -l <"$dialogs")" "1:0:0"
  run_install VelnorIEx32.dll "ADMIN x"
  expect "\"ADMIN x\" takes the launching path" "$(lines 'DllInstallExt() -> ADMIN x$'):$(lines 'fWow64Process')" "1:0"
  run_install VelnorIEx32.dll "admin"
  expect "\"admin\" takes the elevated path" "$(lines 'fWow64Process=1'):$(wc -l <"$dialogs")" "1:1"
  kill $holder 2>/dev/null; wait $holder 2>/dev/null

  echo "== installing over an installation, with files of the user's named like the copies taken out"
  cp "$pkg/VelnorIEx32.dll" "$work/original.dll"
  cp "$pkg/VelnorIEx64.dll" "$work/original64.dll"
  printf 'a newer build' >>"$pkg/VelnorIEx32.dll"
  printf 'a newer build' >>"$pkg/VelnorIEx64.dll"
  for dll in VelnorIEx32.dll VelnorIEx64.dll; do printf 'the user'"'"'s own file' >"$temp/$dll.bak"; done
  run_install VelnorIEx32.dll ""
  for dll in VelnorIEx32.dll VelnorIEx64.dll; do
    if cmp -s "$installed/$dll" "$pkg/$dll"; then ok "the new $dll is installed"; else bad "the new $dll is not installed"; fi
    expect "the user's Temp\\$dll.bak is untouched" "$(cat "$temp/$dll.bak")" "the user's own file"
  done
  expect "the previous copies are taken out of the install folder" "$(ls "$installed" | grep -c '\.bak$')" 0
  expect "the twin was started from its installed copy (registered in place)" "$(lines 'registering the installed copy in place')" 1
  cp "$work/original64.dll" "$pkg/VelnorIEx64.dll"
  cp "$work/original.dll" "$pkg/VelnorIEx32.dll"
  run_install VelnorIEx32.dll ""
  hardening_checks VelnorIEx32.dll 'C:\windows\syswow64\rundll32.exe' 2
else
  echo "== the 64-bit build on its own"
  WINEDEBUG=+eventlog run_install VelnorIEx64.dll "" 2>"$work/install-trace.txt"
  if cmp -s "$installed/VelnorIEx64.dll" "$pkg/VelnorIEx64.dll"; then ok "VelnorIEx64.dll installed, byte-identical"; else bad "VelnorIEx64.dll not installed"; fi
  expect "registered from the installed copy" "$(reg_value "HKCR\\CLSID\\$CLSID\\InprocServer32" "" 64)" "$INSTALL_DIR\\VelnorIEx64.dll"
  expect_category 64
  expect "one message box, with the product's text and caption" "$(cat "$dialogs")" "$message"
  expect "the event source names the installed copy's message table" \
    "$(reg_value "$EVENT_SOURCE_KEY" EventMessageFile 64)" "$INSTALL_DIR\VelnorIEx64.dll"
  expect "and its three event types" "$(reg_value "$EVENT_SOURCE_KEY" TypesSupported 64)" 0x7
  expect "one audit event: installed, with the version and the folder" \
    "$(reported_events "$work/install-trace.txt" | tr '\n' ' ')" 'event 0x0004 0x400003e8   L"1.0.0.1"   L"C:\\Program Files\\Zorvanti" '
  cp "$pkg/VelnorIEx64.dll" "$work/original.dll"
  hardening_checks VelnorIEx64.dll rundll32.exe 1
fi

echo "== uninstall through the uninstall entry"
command=$(reg_value "$UNINSTALL_KEY" UninstallString 64)
expect "the entry runs the 64-bit copy, through rundll32.exe by its full path" "$command" "\"$SYSTEM_RUNDLL32\" \"$INSTALL_DIR\\VelnorIEx64.dll\",DllUninstallExt"
for dll in VelnorIEx32.dll VelnorIEx64.dll; do printf 'the user'"'"'s own file' >"$temp/$dll.bak"; done
: >"$dialogs"
WINEDEBUG=+eventlog wine 'C:\package_check.exe' run-uninstall 2>"$work/uninstall-trace.txt"
expect "the uninstall reports success in its exit code" "$?" 0
expect "one audit event: removed, with the folder" \
  "$(reported_events "$work/uninstall-trace.txt" | tr '\n' ' ')" 'event 0x0004 0x400003ea   L"C:\\Program Files\\Zorvanti" '
if reg_key_exists "$EVENT_SOURCE_KEY" 64; then bad "the event source is left"; else ok "the event source is removed"; fi
sleep 1
if reg_key_exists "$UNINSTALL_KEY" 64; then bad "uninstall entry still there"; else ok "uninstall entry gone"; fi
# The uninstalling copy is loaded by the uninstall's own process, so it can only be renamed: it
# waits inside the install folder for the next restart, and the folder with it.
expect "only the uninstalling copy is left, moved aside" "$(ls "$installed" 2>/dev/null | tr '\n' ' ')" "VelnorIEx64.dll.bak "
wine_restart
if [ -e "$installed" ]; then bad "install folder still there after a restart: $(ls "$installed" | tr '\n' ' ')"; else ok "install folder gone after the next restart"; fi
for view in 32 64; do
  if reg_key_exists "HKCR\\CLSID\\$CLSID" $view || reg_key_exists "$BHO_KEY\\$CLSID" $view ||
     reg_key_exists "HKCR\\CLSID\\$CLSID\\$CATEGORY_KEY" $view; then
    bad "class or Browser Helper Object left in the $view-bit view"
  else
    ok "nothing registered in the $view-bit view"
  fi
done
for dll in VelnorIEx32.dll VelnorIEx64.dll; do
  expect "the user's Temp\\$dll.bak is untouched" "$(cat "$temp/$dll.bak")" "the user's own file"
done
expect "uninstall shows nothing" "$(wc -l <"$dialogs")" 0

echo "== a second uninstall fails quietly"
wine 'C:\package_check.exe' run "rundll32.exe \"$INSTALL_DIR\\VelnorIEx64.dll\",DllUninstallExt"
sleep 1
expect "nothing shown, nothing left" "$(wc -l <"$dialogs"):$([ -e "$installed" ] && echo folder)" "0:"

if [ "$arch" = x86 ]; then
  # On 64-bit Windows an installation is both builds or nothing.
  only='C:\only32'
  mkdir -p "$(wine_unix "$only")"
  cp "$pkg/VelnorIEx32.dll" "$(wine_unix "$only")/"
  echo "== a folder with VelnorIEx32.dll only: the missing file named, nothing changed"
  : >"$log"; : >"$dialogs"
  wine 'C:\package_check.exe' run "C:\\windows\\syswow64\\rundll32.exe $only\\VelnorIEx32.dll,DllInstallExt"
  expect "exit code 1" "$?" 1
  sleep 1
  expect "the message names the missing file" "$(cat "$dialogs")" "Installer	Zorvanti extension could not be installed: $only\\VelnorIEx64.dll is missing. Put VelnorIEx32.dll and VelnorIEx64.dll into one folder and run the installer again. Nothing has been changed."
  expect "the log says it failed" "$(lines 'DllInstallExt() -> failed'):$(lines 'DllInstallExt() -> installed')" "1:0"
  if [ -e "$installed" ]; then bad "something was installed: $(ls "$installed" | tr '\n' ' ')"; else ok "nothing installed"; fi
  if reg_key_exists "HKCR\\CLSID\\$CLSID" 32 || reg_key_exists "$UNINSTALL_KEY" 64; then bad "something was registered"; else ok "nothing registered, no entry"; fi
  wine 'C:\package_check.exe' run "C:\\windows\\syswow64\\rundll32.exe $only\\VelnorIEx32.dll,DllInstallExt QUIET"
  expect "quietly: exit code 1" "$?" 1

  echo "== a 64-bit twin that cannot run: not reported as installed"
  printf 'not a DLL' >"$(wine_unix "$only")/VelnorIEx64.dll"
  : >"$log"; : >"$dialogs"
  wine 'C:\package_check.exe' run "C:\\windows\\syswow64\\rundll32.exe $only\\VelnorIEx32.dll,DllInstallExt"
  expect "exit code 1" "$?" 1
  sleep 1
  expect "the log says the twin failed" "$(lines 'the 64-bit twin failed'):$(lines 'DllInstallExt() -> failed'):$(lines 'DllInstallExt() -> installed')" "1:1:0"
  expect "the message says the installation is incomplete" "$(grep -c 'could not be installed completely: the 64-bit part failed' "$dialogs"):$(grep -c 'has been installed' "$dialogs")" "1:0"
  expect "no uninstall entry" "$(reg_value "$UNINSTALL_KEY" UninstallString 64)" ""
fi

# What rundll32.exe itself ends with when it cannot load the DLL or find the entry point (the
# product's code never runs then): informational, for the README's detection rule.
wine 'C:\package_check.exe' run "rundll32.exe C:\\no\\such.dll,DllInstallExt"
echo "  info  rundll32.exe with a DLL that is not there ends with exit code $?"
wine 'C:\package_check.exe' run "rundll32.exe $package\\VelnorIEx64.dll,NoSuchEntry"
echo "  info  rundll32.exe with an entry point that is not there ends with exit code $?"

if [ $failures -ne 0 ]; then echo "INSTALLER TESTS FAILED ($failures)"; exit 1; fi
echo "installer tests passed"
