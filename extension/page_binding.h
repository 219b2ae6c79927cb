// CPageBinding: what a page is given as window.VelnorIEExt. Every page of a tab is served by the
// tab's one extension object, but each page gets its own binding, which remembers the document
// it was published into and forwards every member to the object's for that page: what the
// binding answers depends on the page, so a lookup through a binding whose document the tab no
// longer shows answers nothing, and a page that keeps the reference (window.opener.VelnorIEExt,
// a saved variable) never reaches the elements of the page the tab shows next.
#pragma once

#include "common/com_object.h"
#include "common/com_ptr.h"
#include "extension/browser_connection.h"
#include "extension/page_context.h"
#include "extension/scriptable_members.h"

#include <windows.h>

#include "VelnorIELib.h"

class CPageBinding final : public ComObject<CPageBinding, ScriptableMembers> {
public:
    // A binding of the extension object's members to `page`; *out gets a reference. The binding
    // keeps the extension object alive, as the page's reference did.
    static HRESULT Create(ScriptableMembers* extension, PageContext page, IVelnorIEExt** out);

    const PageContext& Page() const { return m_page; }

private:
    friend ComObject;
    CPageBinding(ScriptableMembers& extension, PageContext page);
    ~CPageBinding() = default;
    CPageBinding(const CPageBinding&) = delete;
    CPageBinding& operator=(const CPageBinding&) = delete;

    ComPtr<IVelnorIEExt> m_reference;
    PageContext m_page;
};

// The pages a tab has shown, counted by document: every page timer of a document (one for each
// frame that completed) publishes into the same page.
class PageCounter {
public:
    // The page the browser shows now, with its place among the tab's pages. Throws
    // std::bad_alloc when memory runs out.
    PageContext ShownPage(const BrowserConnection& browser);

private:
    long long m_pageOrdinal = 0;
    ComPtr<IUnknown> m_lastPageDocument;
};
