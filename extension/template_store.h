// The template store: one 1 MiB section of named shared memory per logon session,
// "Local\VelnorSSOTemplates". Offset 0 holds the signed 32-bit debug-time word (seconds),
// offset 4 the template text as NUL-terminated UTF-16; after a write every byte past the
// text is zero. The section lives as long as any process of the session holds a handle.
//
// Every process of the session serialises its accesses with the named mutex
// "Local\VelnorSSOTemplates.Lock" beside the section, so that a reader never meets a write
// half done. The wait is bounded (kStoreLockWaitMs): a holder that hangs can slow a browser
// thread down by that much once, never block it.
#pragma once

#include "common/unique_owner.h"

#include <windows.h>

#include <string>

constexpr wchar_t kTemplateStoreName[] = L"Local\\VelnorSSOTemplates";
constexpr wchar_t kTemplateStoreLockName[] = L"Local\\VelnorSSOTemplates.Lock";
constexpr DWORD kTemplateStoreSize = 0x100000;
constexpr DWORD kTemplateTextOffset = 4;
constexpr DWORD kTemplateTextBytes = kTemplateStoreSize - kTemplateTextOffset;    // 0xFFFFC
constexpr size_t kMaxTemplateTextLength = kTemplateTextBytes / sizeof(wchar_t) - 1;  // 524,285
constexpr DWORD kStoreLockWaitMs = 1000;

// Creates or opens the section. *created tells whether this call made it; a new section is
// cleared here. Null when the section could not be created or opened.
HANDLE CreateTemplateStore(bool* created);

// Opens the section only if some process of the session has it; null otherwise.
HANDLE OpenExistingTemplateStore();

// The session-wide lock beside the section (created on first use).
HANDLE CreateTemplateStoreLock();

// Holds the store lock for one operation. A timed-out wait proceeds without it (logged by the
// caller if it wants); an abandoned one is owned and released like any other.
class TemplateStoreLockScope {
public:
    explicit TemplateStoreLockScope(HANDLE lock);
    ~TemplateStoreLockScope();
    TemplateStoreLockScope(const TemplateStoreLockScope&) = delete;
    TemplateStoreLockScope& operator=(const TemplateStoreLockScope&) = delete;
    bool owned() const { return m_owned; }

private:
    HANDLE m_lock;
    bool m_owned = false;
};

// A view of the whole section, or null.
void* MapTemplateView(HANDLE mapping);

// Operations on a mapped view (the caller holds the lock).
std::wstring ReadTemplateText(const void* view);           // up to the first NUL, inside the section
size_t TemplateTextLength(const void* view);
// Clears the text area and copies text up to its first NUL. False (and nothing changed) when
// the text is longer than kMaxTemplateTextLength.
bool WriteTemplateText(void* view, const wchar_t* text);
LONG ReadDebugTime(const void* view);
void WriteDebugTime(void* view, LONG seconds);
