// The extension object's access to the template store for the length of one operation: the
// session's store lock is held and the whole section is mapped into m_templateView, both
// given back when the access ends. No view stays mapped between calls.
#pragma once

#include "extension/template_store.h"
#include "extension/velnor_ie_ext.h"

class CVelnorIEExt::StoreAccess {
public:
    explicit StoreAccess(CVelnorIEExt& object) : m_object(object), m_lock(object.m_templateLock.get()) {
        m_object.m_templateView = MapTemplateView(m_object.m_templateMapping.get());
    }
    ~StoreAccess() {
        if (m_object.m_templateView) UnmapViewOfFile(m_object.m_templateView);
        m_object.m_templateView = nullptr;
    }
    StoreAccess(const StoreAccess&) = delete;
    StoreAccess& operator=(const StoreAccess&) = delete;
    void* view() const { return m_object.m_templateView; }

private:
    CVelnorIEExt& m_object;
    TemplateStoreLockScope m_lock;
};
