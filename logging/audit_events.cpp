#include "logging/audit_events.h"

#include "common/unique_owner.h"
#include "common/wide_format.h"

#include <vector>

const wchar_t kAuditEventSource[] = L"VelnorIE";
const wchar_t kAuditEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VelnorIE";

namespace {

bool NeedsEscape(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// The user's SID from the process token, so that the event names who did it (the store tool runs
// as the user whose credential it used); empty when the token cannot be read.
std::vector<BYTE> ProcessUser() {
    std::vector<BYTE> buffer;
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return buffer;
    DWORD size = 0;
    GetTokenInformation(token.get(), ::TokenUser, nullptr, 0, &size);
    if (size == 0) return buffer;
    buffer.resize(size);
    if (!GetTokenInformation(token.get(), ::TokenUser, buffer.data(), size, &size)) buffer.clear();
    return buffer;
}

}  // namespace

WORD AuditEventType(DWORD eventId) {
    switch (eventId >> 30) {
    case 3: return EVENTLOG_ERROR_TYPE;
    case 2: return EVENTLOG_WARNING_TYPE;
    default: return EVENTLOG_INFORMATION_TYPE;
    }
}

std::wstring EscapeAuditText(const std::wstring& text) {
    std::wstring escaped;
    const size_t length = text.size() < kAuditStringLimit ? text.size() : kAuditStringLimit;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (NeedsEscape(c) || (c == L'\\' && text.compare(i + 1, 2, L"u{") == 0)) {
            escaped += FormatWide(L"\\u{%04X}", static_cast<unsigned>(c));
        } else {
            escaped += c;
        }
    }
    if (text.size() > length) escaped += L"...";
    return escaped;
}

bool ReportAuditEvent(DWORD eventId, std::initializer_list<std::wstring> strings) {
    try {
        std::vector<std::wstring> escaped;
        for (const std::wstring& text : strings) escaped.push_back(EscapeAuditText(text));
        std::vector<LPCWSTR> pointers;
        for (const std::wstring& text : escaped) pointers.push_back(text.c_str());
        const std::vector<BYTE> user = ProcessUser();
        const PSID sid = user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;

        unique_event_source source(RegisterEventSourceW(nullptr, kAuditEventSource));
        if (!source) return false;
        return ReportEventW(source.get(), AuditEventType(eventId), 0, eventId, sid, static_cast<WORD>(pointers.size()),
                            0, pointers.empty() ? nullptr : pointers.data(), nullptr) != FALSE;
    } catch (...) {
        return false;   // out of memory: the event is lost, the caller goes on
    }
}
