#include "extension/template_store.h"

#include "common/object_security.h"

// The store and its lock are made so that Protected Mode tabs (low integrity) and programs of
// the same user (VelnorSSOStore hold, an agent preparing sign-ons) can all write them, whichever
// made them first. A descriptor that cannot be built leaves the default security.
HANDLE CreateTemplateStore(bool* created) {
    if (created) *created = false;
    ObjectSecurity security;
    security.FromSddl(SessionObjectSddl());
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE, 0,
                                        kTemplateStoreSize, kTemplateStoreName);
    if (!mapping) return nullptr;
    if (GetLastError() == ERROR_ALREADY_EXISTS) return mapping;
    if (created) *created = true;
    // A new section: start from all zeros (empty text, debug time 0).
    if (void* view = MapTemplateView(mapping)) {
        ZeroMemory(view, kTemplateStoreSize);
        UnmapViewOfFile(view);
    }
    return mapping;
}

HANDLE OpenExistingTemplateStore() {
    return OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kTemplateStoreName);
}

HANDLE CreateTemplateStoreLock() {
    ObjectSecurity security;
    security.FromSddl(SessionObjectSddl());
    return CreateMutexW(security.attributes(), FALSE, kTemplateStoreLockName);
}

TemplateStoreLockScope::TemplateStoreLockScope(HANDLE lock) : m_lock(lock) {
    if (!m_lock) return;
    const DWORD wait = WaitForSingleObject(m_lock, kStoreLockWaitMs);
    m_owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

TemplateStoreLockScope::~TemplateStoreLockScope() {
    if (m_owned) ReleaseMutex(m_lock);
}

void* MapTemplateView(HANDLE mapping) {
    if (!mapping) return nullptr;
    return MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kTemplateStoreSize);
}

size_t TemplateTextLength(const void* view) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(view) + kTemplateTextOffset);
    // Another program may have filled the area without a terminator: never read past it.
    const size_t limit = kTemplateTextBytes / sizeof(wchar_t);
    size_t length = 0;
    while (length < limit && text[length] != L'\0') ++length;
    return length;
}

std::wstring ReadTemplateText(const void* view) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(view) + kTemplateTextOffset);
    return std::wstring(text, TemplateTextLength(view));
}

bool WriteTemplateText(void* view, const wchar_t* text) {
    const size_t length = text ? wcslen(text) : 0;
    if (length > kMaxTemplateTextLength) return false;
    BYTE* area = static_cast<BYTE*>(view) + kTemplateTextOffset;
    ZeroMemory(area, kTemplateTextBytes);
    if (length) CopyMemory(area, text, length * sizeof(wchar_t));
    return true;
}

LONG ReadDebugTime(const void* view) {
    return *static_cast<const volatile LONG*>(view);
}

void WriteDebugTime(void* view, LONG seconds) {
    *static_cast<volatile LONG*>(view) = seconds;
}
