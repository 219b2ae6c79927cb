#!/usr/bin/env bash
# Checks that Windows binaries import only what Windows 7 SP1 has: each imported DLL must be one
# of the system DLLs below, and no imported function may be one that appeared after Windows 7
# (those are looked up at run time instead, so the DLL still loads there). Wine loads a module
# whose imports are missing, so only this check catches such an import.
#   tools/check-imports.sh FILE...      (PE files of either architecture)
# Prints one line per file and exits non-zero when any file imports something not allowed.
set -uo pipefail

# System DLLs of Windows 7 SP1 the product may import (names compared without letter case);
# urlmon.dll for CreateUri, which Internet Explorer 7 brought and every Windows 7 has; bcrypt.dll
# (Windows Vista and later) for the store tool's BCryptGenRandom; version.dll (every Windows) for
# the file versions the store tool's --version reads.
allowed_dlls='kernel32.dll user32.dll advapi32.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll msvcrt.dll urlmon.dll bcrypt.dll version.dll'

# Functions of those DLLs that Windows 7 does not have (Windows 8 and later).
denied_functions='
GetAppContainerNamedObjectPath DeriveAppContainerSidFromAppContainerName CreateAppContainerProfile
DeleteAppContainerProfile GetAppContainerFolderPath GetAppContainerRegistryLocation
CheckTokenMembershipEx GetSystemTimePreciseAsFileTime CreateFile2 CopyFile2 GetCurrentThreadStackLimits
SetDefaultDllDirectories AddDllDirectory RemoveDllDirectory GetProcessMitigationPolicy
SetProcessMitigationPolicy WaitOnAddress WakeByAddressSingle WakeByAddressAll
InitializeSynchronizationBarrier EnterSynchronizationBarrier DeleteSynchronizationBarrier
GetFirmwareType GetCurrentPackageId GetCurrentPackageFullName GetCurrentPackageFamilyName
GetCurrentPackagePath GetPackageFamilyName GetPackageFullName PrefetchVirtualMemory
DiscardVirtualMemory OfferVirtualMemory ReclaimVirtualMemory MapViewOfFileFromApp
CreateFileMappingFromApp VirtualProtectFromApp OpenFileMappingFromApp SetThreadDescription
GetThreadDescription CompareObjectHandles GetOverlappedResultEx CreateFileMapping2 MapViewOfFile3
MapViewOfFileNuma2 VirtualAlloc2 IsWow64Process2 GetSystemCpuSetInformation SetThreadInformation
GetThreadInformation SetProcessInformation GetProcessInformation GetDpiForWindow GetDpiForSystem
SetProcessDpiAwarenessContext SetThreadDpiAwarenessContext GetDpiForMonitor IsImmersiveProcess
GetIntegratedDisplaySize QueryUnbiasedInterruptTimePrecise GetProcessDefaultCpuSets
SHGetKnownFolderIDList SHGetStockIconInfo SHCreateItemFromRelativeName
'

# Each architecture's objdump reads its own PE files.
pe_dump() { x86_64-w64-mingw32-objdump -p "$1" 2>/dev/null || i686-w64-mingw32-objdump -p "$1" 2>/dev/null; }

failures=0
for binary in "$@"; do
  problems=()
  dump=$(pe_dump "$binary") || { echo "  FAIL  $binary: not readable"; failures=$((failures + 1)); continue; }
  dlls=$(printf '%s\n' "$dump" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
  [ -n "$dlls" ] || problems+=("no import table found")
  for dll in $dlls; do
    case " $allowed_dlls " in *" $dll "*) ;; *) problems+=("imports $dll") ;; esac
  done
  # Import lines read "<hint> <name>" (or "<ordinal> <hint> <name>" in some versions) between a
  # "DLL Name:" line and the next blank line.
  functions=$(printf '%s\n' "$dump" | awk '/DLL Name:/ {inside = 1; next} inside && NF == 0 {inside = 0} inside && $NF ~ /^[A-Za-z_][A-Za-z0-9_@]*$/ && $1 ~ /^[0-9a-fA-F]+$/ {print $NF}' | sort -u)
  [ -n "$functions" ] || problems+=("no imported function found")
  for function in $functions; do
    case " $(echo $denied_functions) " in *" $function "*) problems+=("imports $function (not on Windows 7)") ;; esac
  done
  if [ ${#problems[@]} -eq 0 ]; then
    printf '  ok    %s imports only what Windows 7 has (%s)\n' "$(basename "$binary")" "$(echo $dlls)"
  else
    for problem in "${problems[@]}"; do printf '  FAIL  %s %s\n' "$(basename "$binary")" "$problem"; done
    failures=$((failures + 1))
  fi
done
[ $failures -eq 0 ]
