#include "templates/template_store.h"

#include "common/object_security.h"
#include "templates/store_place.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>

namespace {

void* MapSection(HANDLE section) {
    if (!section) return nullptr;
    return MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, kTemplateStoreSize);
}

// Computed once per process: where the process runs does not change.
const StorePlace& Place() {
    static const StorePlace place = TemplateStorePlace(CurrentStorePlaceInputs());
    return place;
}

// The store and its lock are made so that Protected Mode tabs (low integrity), Enhanced
// Protected Mode tabs (IE's AppContainer) and programs of the same user (VelnorSSOStore hold, an
// agent preparing sign-ons) can all write them, whichever made them first. A descriptor that
// cannot be built leaves the default security.

HANDLE CreateSection(const std::wstring& name, bool& existed) {
    ObjectSecurity security;
    security.FromSddl(Place().sectionSddl);
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE, 0,
                                        kTemplateStoreSize, name.c_str());
    existed = section && GetLastError() == ERROR_ALREADY_EXISTS;
    if (!section || existed) return section;
    // A new section: start from all zeros (empty text, debug time 0).
    unique_mapview view(MapSection(section));
    if (view) ZeroMemory(view.get(), kTemplateStoreSize);
    return section;
}

HANDLE OpenExistingSection() {
    return OpenFileMappingW(Place().sectionAccess, FALSE, Place().sectionName.c_str());
}

HANDLE CreateLock(const std::wstring& name, bool& existed) {
    ObjectSecurity security;
    security.FromSddl(Place().lockSddl);
    HANDLE lock = CreateMutexExW(security.attributes(), name.c_str(), 0, Place().lockAccess);
    existed = lock && GetLastError() == ERROR_ALREADY_EXISTS;
    return lock;
}

// The session's lock; inside an AppContainer only opened, never created there.
HANDLE SessionLock(bool& existed) {
    if (Place().createsSessionObjects) return CreateLock(Place().lockName, existed);
    existed = true;
    return OpenMutexW(Place().lockAccess, FALSE, Place().lockName.c_str());
}

}  // namespace

TemplateStoreLockScope::TemplateStoreLockScope(HANDLE lock) : m_lock(lock) {
    // Without a lock object (one that could not be opened) there is nothing to wait for: the
    // store is used as it was before it had one.
    m_waited = !m_lock;
    if (!m_lock) return;
    const DWORD wait = WaitForSingleObject(m_lock, kStoreLockWaitMs);
    m_owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    m_waited = m_owned;
}

TemplateStoreLockScope::~TemplateStoreLockScope() {
    if (m_owned) ReleaseMutex(m_lock);
}

TemplateStore::TemplateStore(Mode mode) {
    bool lockExisted = false;
    m_lock.reset(SessionLock(lockExisted));
    if (m_lock && lockExisted && !IsOwnedByUserOrSystem(m_lock.get())) {
        m_lock.reset();
        m_refusal = L"its lock belongs to another user";
        return;
    }
    {
        TemplateStoreLockScope lock(m_lock.get());
        const bool create = mode == Mode::kCreateOrOpen && Place().createsSessionObjects;
        bool existed = true;
        m_section.reset(create ? CreateSection(Place().sectionName, existed) : OpenExistingSection());
        if (m_section && existed && !IsOwnedByUserOrSystem(m_section.get())) {
            m_section.reset();
            m_lock.reset();
            m_refusal = L"the section belongs to another user";
            return;
        }
    }
    if (m_section || mode == Mode::kExistingOnly || Place().fallbackSectionName.empty()) return;
    // An AppContainer tab whose session has no store (or whose container the store does not
    // grant): the container's own store, shared by its tabs.
    bool ignored = false;
    m_lock.reset(CreateLock(Place().fallbackLockName, ignored));
    TemplateStoreLockScope lock(m_lock.get());
    m_section.reset(CreateSection(Place().fallbackSectionName, ignored));
}

void TemplateStore::reset() {
    m_section.reset();
    m_lock.reset();
    m_refusal = nullptr;
}

bool TemplateStore::Exists() {
    return static_cast<bool>(unique_handle(OpenExistingSection()));
}

TemplateStore::View::View(HANDLE lock, HANDLE section) : m_lock(lock), m_view(MapSection(section)) {}

const wchar_t* TemplateStore::View::Text() const {
    return reinterpret_cast<const wchar_t*>(bytes() + kTemplateTextOffset);
}

size_t TemplateStore::View::TextLength() const {
    const wchar_t* text = Text();
    const size_t limit = kTemplateTextBytes / sizeof(wchar_t);
    size_t length = 0;
    while (length < limit && text[length] != L'\0') ++length;
    m_readLength = length;
    return length;
}

std::wstring TemplateStore::View::ReadText() const {
    return std::wstring(Text(), TextLength());
}

bool TemplateStore::View::WriteText(const wchar_t* text) {
    const size_t length = text ? wcslen(text) : 0;
    if (length > kMaxTemplateTextLength || !locked()) return false;
    BYTE* area = bytes() + kTemplateTextOffset;
    // Past the text the area is all zero after every write. Where this operation has read the
    // text it replaces (under the lock, so nobody changed it since), only what that text took is
    // cleared: the rest is zero already, and each page touched of a mapped view costs the system a
    // fault. Otherwise the whole area is cleared.
    const size_t clear = m_readLength == kUnread ? kTemplateTextBytes
                                                 : std::min<size_t>(kTemplateTextBytes, (m_readLength + 1) * sizeof(wchar_t));
    if (length) CopyMemory(area, text, length * sizeof(wchar_t));
    if (clear > length * sizeof(wchar_t)) ZeroMemory(area + length * sizeof(wchar_t), clear - length * sizeof(wchar_t));
    m_readLength = length;
    return true;
}

LONG TemplateStore::View::DebugTime() const {
    return *reinterpret_cast<const volatile LONG*>(bytes());
}

void TemplateStore::View::SetDebugTime(LONG seconds) {
    *reinterpret_cast<volatile LONG*>(bytes()) = seconds;
}
