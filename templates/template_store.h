// The template store: one 1 MiB section of named shared memory per logon session,
// "Local\VelnorSSOTemplates". Offset 0 holds the signed 32-bit debug-time word (seconds),
// offset 4 the template text as NUL-terminated UTF-16; after a write every byte past the
// text is zero. The section lives as long as any process of the session holds a handle.
//
// Every process of the session serialises its accesses with the named mutex
// "Local\VelnorSSOTemplates.Lock" beside the section, so that a reader never meets a write
// half done and no write is lost to another made at the same time. The wait is bounded
// (kStoreLockWaitMs): a holder that hangs can slow a browser thread down by that much once,
// never block it; a read goes on without the lock then, a write is refused.
//
// TemplateStore owns the section and its lock; TemplateStore::View is one operation on it (the
// lock held, the whole section mapped), given back when the view goes out of scope. No view
// stays mapped between operations. The layout below is known here and nowhere else.
#pragma once

#include "common/unique_owner.h"

#include <windows.h>

#include <string>

constexpr wchar_t kTemplateStoreName[] = L"Local\\VelnorSSOTemplates";
constexpr wchar_t kTemplateStoreLockName[] = L"Local\\VelnorSSOTemplates.Lock";
// The same objects' names within the session's namespace (see templates/store_place.h for how a
// process in an AppContainer spells them).
constexpr wchar_t kTemplateStoreBaseName[] = L"VelnorSSOTemplates";
constexpr wchar_t kTemplateStoreLockBaseName[] = L"VelnorSSOTemplates.Lock";
constexpr DWORD kTemplateStoreSize = 0x100000;
constexpr DWORD kTemplateTextOffset = 4;
constexpr DWORD kTemplateTextBytes = kTemplateStoreSize - kTemplateTextOffset;    // 0xFFFFC
constexpr size_t kMaxTemplateTextLength = kTemplateTextBytes / sizeof(wchar_t) - 1;  // 524,285
constexpr DWORD kStoreLockWaitMs = 1000;

// Holds the store lock for one operation. A timed-out wait proceeds without it (logged by the
// caller if it wants); an abandoned one is owned and released like any other.
class TemplateStoreLockScope {
public:
    explicit TemplateStoreLockScope(HANDLE lock);
    ~TemplateStoreLockScope();
    TemplateStoreLockScope(const TemplateStoreLockScope&) = delete;
    TemplateStoreLockScope& operator=(const TemplateStoreLockScope&) = delete;
    bool owned() const { return m_owned; }
    // Owned, or there is no lock to wait for.
    bool serialised() const { return m_waited; }

private:
    HANDLE m_lock;
    bool m_owned = false;
    bool m_waited = false;
};

class TemplateStore {
public:
    enum class Mode {
        kCreateOrOpen,   // the first of the session creates the section and clears it
        kExistingOnly,   // only what another program of the session holds
    };

    // Closed: every view of it is empty.
    TemplateStore() = default;
    // Opens the lock, then the section under it, so that a concurrent first writer is never
    // wiped by the clearing of a new section. A lock or section made before by another user of
    // the session is refused (see refusal()). Check is_open().
    explicit TemplateStore(Mode mode);
    TemplateStore(TemplateStore&&) = default;
    TemplateStore& operator=(TemplateStore&&) = default;

    bool is_open() const { return static_cast<bool>(m_section); }
    // Why an existing section or lock was refused (another user owns it), for the caller's log;
    // null when nothing was refused.
    const wchar_t* refusal() const { return m_refusal; }
    void reset();

    // Whether some process of the session holds the section now.
    static bool Exists();

    class View {
    public:
        View(const View&) = delete;
        View& operator=(const View&) = delete;

        // False when the section is not open or cannot be mapped; then nothing else may be called.
        explicit operator bool() const { return static_cast<bool>(m_view); }
        // Whether the store's lock is held: a write without it could undo another process's
        // write made at the same time, so WriteText refuses then.
        bool locked() const { return m_lock.serialised(); }

        // The text up to its first NUL, never past the section (another program may have
        // filled the area without a terminator).
        const wchar_t* Text() const;
        size_t TextLength() const;
        std::wstring ReadText() const;
        // Copies text up to its first NUL and clears the rest of the text area (every byte past the
        // text is zero afterwards). False (and nothing changed) when the text is longer than
        // kMaxTemplateTextLength, or the lock is not held.
        bool WriteText(const wchar_t* text);

        LONG DebugTime() const;
        void SetDebugTime(LONG seconds);

        // The whole section, byte for byte (for what checks the layout itself).
        BYTE* bytes() const { return static_cast<BYTE*>(m_view.get()); }

    private:
        friend class TemplateStore;
        View(HANDLE lock, HANDLE section);

        TemplateStoreLockScope m_lock;   // taken before the view is mapped, released after it is unmapped
        unique_mapview m_view;
        static constexpr size_t kUnread = static_cast<size_t>(-1);
        mutable size_t m_readLength = kUnread;   // the text's length as this operation read it
    };

    // One operation: the lock held and the section mapped for as long as the view lives.
    View Access() const { return View(m_lock.get(), m_section.get()); }

    // The kernel objects, for checks of their security (not to be closed or kept).
    HANDLE section() const { return m_section.get(); }
    HANDLE lock() const { return m_lock.get(); }

private:
    unique_handle m_lock;
    unique_handle m_section;
    const wchar_t* m_refusal = nullptr;
};
