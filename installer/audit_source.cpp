#include "installer/audit_source.h"

#include "common/unique_owner.h"
#include "logging/audit_events.h"

#include <windows.h>

bool RegisterAuditSource(const std::wstring& messageFile) {
    // SYSTEM is not redirected by WOW64: both builds write the one key, the native build last.
    unique_hkey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAuditEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    const DWORD bytes = static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(messageFile.c_str()), bytes) == ERROR_SUCCESS &&
           RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                          sizeof(types)) == ERROR_SUCCESS;
}

void UnregisterAuditSource() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAuditEventSourceKey);
}
