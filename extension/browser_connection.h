// The extension object's connection to its browser: the site it was given, the browser behind
// it, the DWebBrowserEvents2 sink that turns the browser's events into calls of BrowserEvents,
// and the IAuthenticate service proffered to the browser while the events are connected.
#pragma once

#include "common/com_ptr.h"

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>
#include <servprov.h>
#include <shobjidl.h>

constexpr DWORD kNotConnectedCookie = 0xFEFEFEFE;

// The browser's events as the extension object handles them. Each handler ends its own failures
// (traced where the trace says so, else swallowed): nothing is thrown back into the browser.
class BrowserEvents {
public:
    virtual void OnBeforeNavigate(IDispatch* frame, VARIANT* url, VARIANT* flags, VARIANT* targetFrameName,
                                  VARIANT* postData, VARIANT* headers, VARIANT_BOOL* cancel) noexcept = 0;
    virtual void OnNavigateComplete(IDispatch* frame, VARIANT* url) noexcept = 0;
    virtual void OnNavigateError(IDispatch* frame) noexcept = 0;
    virtual void OnDocumentComplete(IDispatch* frame, VARIANT* url) noexcept = 0;
    virtual void OnFileDownload(bool activeDocument) noexcept = 0;
    virtual void OnDownloadComplete() noexcept = 0;
    virtual void OnPropertyChange(BSTR name) noexcept = 0;

protected:
    ~BrowserEvents() = default;
};

class BrowserConnection {
public:
    // `owner` is the object whose reference count the sink counts on (an open connection keeps
    // it alive), `events` what the sink calls, `authService` what is proffered for IAuthenticate.
    BrowserConnection(IUnknown* owner, BrowserEvents* events, IServiceProvider* authService)
        : m_eventSink(owner, events), m_authService(authService) {}
    BrowserConnection(const BrowserConnection&) = delete;
    BrowserConnection& operator=(const BrowserConnection&) = delete;

    // IObjectWithSite::SetSite: a site connects the browser's events and proffers the service,
    // null disconnects them (the browser is kept until the object goes). E_FAIL, and nothing
    // changed, for a browser while the events of the last one are still connected; else S_OK.
    HRESULT SetSite(IUnknown* site);
    // IObjectWithSite::GetSite: E_POINTER, E_FAIL without a site, else the site's QueryInterface.
    HRESULT GetSite(REFIID iid, void** out) const;

    // The browser, null when the site was none.
    IWebBrowser2* Browser() const { return m_webBrowser.get(); }
    // Whether an event's frame object is the browser itself (the top-level page), by COM identity.
    bool IsTopLevel(IDispatch* frame) const;
    // Whether the browser says it is still busy (false without a browser or an answer).
    bool IsBusy() const;
    // The COM identity of the browser's top-level document, or null; *document gets the document.
    ComPtr<IUnknown> DocumentIdentity(ComPtr<IDispatch>* document) const;
    // Whether the browser's top-level document is the one with that COM identity.
    bool ShowsDocument(IUnknown* identity) const;

    DWORD EventsCookie() const { return m_browserEventsCookie; }
    bool EventsAdvised() const { return m_browserEventsAdvised; }

private:
    // The browser's DWebBrowserEvents2 sink: IUnknown, IDispatch and the dispinterface, counted
    // on its owner's reference count.
    class EventSink final : public DWebBrowserEvents2 {
    public:
        EventSink(IUnknown* owner, BrowserEvents* events) : m_owner(owner), m_events(events) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
        STDMETHODIMP_(ULONG) AddRef() override { return m_owner->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_owner->Release(); }
        STDMETHODIMP GetTypeInfoCount(UINT* count) override;
        STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
        STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
        STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* exception, UINT* argumentError) override;

    private:
        IUnknown* m_owner;
        BrowserEvents* m_events;
    };

    HRESULT FindBrowserEventsConnectionPoint(IConnectionPoint** point) const;
    HRESULT FindProfferService(IProfferService** proffer) const;

    EventSink m_eventSink;
    IServiceProvider* m_authService;
    ComPtr<IUnknown> m_site;
    ComPtr<IWebBrowser2> m_webBrowser;
    DWORD m_browserEventsCookie = kNotConnectedCookie;
    bool m_browserEventsAdvised = false;   // the events connected and the service proffered
    DWORD m_authServiceCookie = 0;
};
