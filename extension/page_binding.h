// CPageBinding: what a page is given as window.VelnorIEExt. Every page of a tab is served by the
// tab's one extension object, but each page gets its own binding, which remembers the document
// it was published into. Page script calls the same members by the same names; what the binding
// answers depends on that page: a lookup through a binding whose document the tab no longer
// shows answers nothing, so a page that keeps the reference (window.opener.VelnorIEExt, a saved
// variable) never reaches the elements of the page the tab shows next.
#pragma once

#include "common/com_ptr.h"
#include "extension/scriptable_dispatch.h"

#include <windows.h>

#include <string>

#include "VelnorIELib.h"

class CVelnorIEExt;

// The page a binding belongs to.
struct PageContext {
    ComPtr<IUnknown> document;   // the document's COM identity (a reference, so that it cannot be reused)
    std::wstring url;            // its address when the binding was made
    std::wstring origin;         // its origin, stamped on what it writes (empty: none)
    long long ordinal = 0;       // its place among the pages of its tab (1 for the first)
    std::wstring known;          // what it last read or wrote of Templates: its writes are changes to this
};

class CPageBinding final : public ScriptableDispatch {
public:
    // A binding of `extension` to `page`; *out gets a reference.
    static HRESULT Create(CVelnorIEExt* extension, PageContext page, IVelnorIEExt** out);

    // IUnknown, from the interface table: IUnknown, IDispatch and IVelnorIEExt.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IVelnorIEExt: the extension object's members, for this page.
    STDMETHODIMP get_Status(BSTR* pVal) override;
    STDMETHODIMP put_Status(BSTR newVal) override;
    STDMETHODIMP TestCall() override;
    STDMETHODIMP get_Templates(BSTR* pVal) override;
    STDMETHODIMP put_Templates(BSTR newVal) override;
    STDMETHODIMP GetElementByXPath(BSTR sXPathDef, IDispatch** pResult) override;
    STDMETHODIMP get_AuthCreds(BSTR* pVal) override;
    STDMETHODIMP put_AuthCreds(BSTR newVal) override;
    STDMETHODIMP get_DebugTime(LONG* pVal) override;
    STDMETHODIMP put_DebugTime(LONG newVal) override;

    const PageContext& Page() const { return m_page; }

private:
    CPageBinding(CVelnorIEExt* extension, PageContext page);
    ~CPageBinding() = default;
    CPageBinding(const CPageBinding&) = delete;
    CPageBinding& operator=(const CPageBinding&) = delete;

    // Like the extension object, a binding lives on its browser thread only: a plain count.
    ULONG m_refCount = 0;
    ComPtr<IVelnorIEExt> m_reference;   // keeps the extension object alive, as the page's reference did
    CVelnorIEExt* m_extension;
    PageContext m_page;
};
