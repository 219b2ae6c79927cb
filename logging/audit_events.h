// The audit trail in the Windows Application log: events of the source "VelnorIE", whose texts are
// the message table compiled from resources/VelnorIEEvents.mc into both DLLs (the identifiers are
// that file's, in the generated VelnorIEEvents.h). Administrators collect them with Event
// Forwarding; the text log keeps its own lines as before.
//
// Which process writes what: a browser tab never does (an Enhanced Protected Mode tab runs in an
// AppContainer, which cannot reach the event log service); pages report outcomes into the store,
// and the store tool or its agent, running as the user, turns them into events. The installer's
// elevated run writes installs and uninstalls.
#pragma once

#include "VelnorIEEvents.h"

#include <windows.h>

#include <initializer_list>
#include <string>

extern const wchar_t kAuditEventSource[];   // "VelnorIE"
// The source's key under HKLM, where EventMessageFile and TypesSupported are registered.
extern const wchar_t kAuditEventSourceKey[];   // "SYSTEM\CurrentControlSet\Services\EventLog\Application\VelnorIE"

// The event type the identifier's severity bits name (error, warning, else information).
WORD AuditEventType(DWORD eventId);

// Text fit for an insertion string: control characters (C0, DEL, C1, the line and paragraph
// separators) become "\u{XXXX}", and so does a backslash that would begin such a sequence, so
// that what a page or a catalog wrote can neither forge a line of its own in a collector nor pass
// for an escape (paths keep their backslashes); longer texts are cut at kAuditStringLimit
// characters with "..." after them.
std::wstring EscapeAuditText(const std::wstring& text);
constexpr size_t kAuditStringLimit = 1024;

// Reports one event with its insertion strings (escaped here), under the calling user's SID.
// Never fails its caller: false when the event log could not be reached.
bool ReportAuditEvent(DWORD eventId, std::initializer_list<std::wstring> strings);
