# Shell helpers shared by the package verification and the installer tests (sourced).
. "$(dirname "${BASH_SOURCE[0]}")/wine-launcher.sh"

# Reporting: each check prints one line; the caller exits non-zero when $failures is not 0.
failures=0
ok() { printf '  ok    %s\n' "$1"; }
bad() { printf '  FAIL  %s\n' "$1"; failures=$((failures + 1)); }
expect() { if [ "$2" = "$3" ]; then ok "$1"; else bad "$1: expected '$3', found '$2'"; fi; }

# A fresh Wine prefix in $1 (64-bit, like 64-bit Windows); waits until it is ready.
wine_new_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
}

# Unix path of a C: path in the current prefix.
wine_unix() { printf '%s/drive_c/%s' "$WINEPREFIX" "$(printf '%s' "${1#C:\\}" | tr '\\' '/')"; }

# "reg query" of one value (empty when missing); $1 key, $2 value ("" for the default), $3 32|64.
reg_value() {
  local out
  if [ -z "$2" ]; then out=$(wine reg query "$1" /ve /reg:"$3" 2>/dev/null); else out=$(wine reg query "$1" /v "$2" /reg:"$3" 2>/dev/null); fi
  printf '%s\n' "$out" | tr -d '\r' | awk -F'    ' 'NF >= 4 && $3 ~ /^REG_/ {print $4; exit}'
}

# A restart of Windows as the prefix sees it (wineboot -r): files and folders scheduled for
# deletion at the next restart (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT) go then.
# (Programs left running, such as the installer test's dialog watcher, keep running.)
wine_restart() { wine wineboot -r >/dev/null 2>&1; }

reg_key_exists() { wine reg query "$1" /reg:"$2" >/dev/null 2>&1; }

CLSID='{5D3A8C21-7E4B-4F19-A6D2-3B9E0C7F1A54}'
BHO_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Browser Helper Objects'
UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\VelnorIEExt'
INSTALL_DIR='C:\Program Files\Zorvanti'
# The 64-bit rundll32.exe by its full path, as the uninstall entry names it.
SYSTEM_RUNDLL32='C:\windows\system32\rundll32.exe'

# The audit events in a trace of WINEDEBUG=+eventlog (file $1), one a line: "event TYPE ID" and
# each insertion string as Wine prints it (L"...", backslashes doubled). Wine's ReportEventW keeps
# nothing, but traces each call and, on the eventlog channel, each string.
EVENT_SOURCE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\VelnorIE'
reported_events() {
  tr -d '\r' <"$1" | sed -nE \
    -e 's/.*:ReportEventW \([^,]*,(0x[0-9a-f]{4}),0x[0-9a-f]{4},(0x[0-9a-f]{8}),.*/event \1 \2/p' \
    -e 's/.*:eventlog:ReportEventW (L".*")$/  \1/p'
}
