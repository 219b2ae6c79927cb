#!/usr/bin/env bash
# The audit events as the store tool's calls report them, read where Wine shows them: its
# ReportEventW keeps nothing, but traces each call (event type and identifier) and, with
# WINEDEBUG=+eventlog, each insertion string. One event of each kind, with an entry name holding
# a line break as a page could write it, against the events expected, in order.
#   audit_events_trace.sh BIN_DIR PREFIX
set -uo pipefail
bin=$1 prefix=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/tools/wine-lib.sh"

WINEDEBUG=+eventlog "$here/cmake/wine-run.sh" "$prefix" "$bin/log_child.exe" audit 2>"$prefix.audit-trace" >/dev/null
status=$?
[ $status = 77 ] && exit 77
reported=$(reported_events "$prefix.audit-trace")

expected='event 0x0004 0x400007d0
  L"https://intranet.example.com"
  L"intranet\\u{000D}\\u{000A}forged line"
  L"Velnor:intranet"
  L"as the page showed"
event 0x0002 0x800007d1
  L"https://intranet.example.com"
  L"intranet\\u{000D}\\u{000A}forged line"
  L"Velnor:intranet"
  L"as the page showed"
event 0x0002 0x800007d2
  L"https://intranet.example.com"
  L"intranet\\u{000D}\\u{000A}forged line"
  L"Velnor:intranet"
  L"as the page showed"
event 0x0002 0x800007d3
  L"https://intranet.example.com"
  L"intranet\\u{000D}\\u{000A}forged line"
  L"Velnor:intranet"
  L"the form was not sent"
event 0x0002 0x80000834
  L"Velnor:intranet"
  L"https://intranet.example.com"
event 0x0004 0x40000835
  L"Velnor:intranet"
  L"the credential was set anew"
event 0x0004 0x40000835
  L"Velnor:intranet"
  L"--retry was given"
event 0x0004 0x40000898
  L"https://intranet.example.com"
  L"Velnor:intranet"
  L"intranet-password"
event 0x0002 0x80000899
  L"https://intranet.example.com"
  L"Velnor:intranet"
  L"intranet-password"
event 0x0002 0x8000089a
  L"https://intranet.example.com"
  L"Velnor:intranet"
  L"intranet-password"'

expect "the helper ran" "$status" 0
if [ "$reported" = "$expected" ]; then
  ok "every event with its type, identifier and escaped strings; a form never sent is no answer"
else
  bad "the events reported differ:"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$reported") | sed 's/^/        /'
fi
# ReportEventW's fifth argument: the user's SID, which Event Viewer shows as the event's user.
expect "every event names the user who ran the tool" \
  "$(grep -cE ':ReportEventW \([^,]*,0x[0-9a-f]{4},0x[0-9a-f]{4},0x[0-9a-f]{8},0+,' "$prefix.audit-trace")" 0
if [ $failures -ne 0 ]; then echo "AUDIT EVENTS FAILED ($failures)"; exit 1; fi
echo "audit events verified"
