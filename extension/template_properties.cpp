// The Templates and DebugTime properties: the extension object's side of the template store.
#include "extension/store_access.h"
#include "extension/template_store.h"
#include "extension/timer_map.h"
#include "extension/velnor_ie_ext.h"
#include "common/wide_format.h"
#include "logging/log_writer.h"

// The longest debug period a thread timer can run (USER_TIMER_MAXIMUM, about 24.8 days);
// longer DebugTime values are capped to it.
constexpr UINT kMaxDebugTimerMs = 0x7FFFFFFF;

namespace {

std::wstring TemplateSummary(size_t length) {
    return FormatWide(L"<%d characters>", static_cast<int>(length));
}

}  // namespace


STDMETHODIMP CVelnorIEExt::get_Templates(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    LogExt(L"CVelnorIEExt::get_Templates()");
    StoreAccess store(*this);
    if (!store.view()) {
        LogExt(L"CVelnorIEExt::get_Templates() -> no mapping");
        *pVal = SysAllocString(L"");
        return *pVal ? S_OK : E_OUTOFMEMORY;
    }
    const wchar_t* text =
        reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(store.view()) + kTemplateTextOffset);
    const size_t length = TemplateTextLength(store.view());
    *pVal = SysAllocStringLen(text, static_cast<UINT>(length));
    if (!*pVal) return E_OUTOFMEMORY;
    // The templates carry the passwords that their actions type, so the log shows only how
    // much text there is, never the text itself.
    LogExt(L"CVelnorIEExt::get_Templates() -> %s", TemplateSummary(length).c_str());
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::put_Templates(BSTR newVal) {
    LogExt(L"CVelnorIEExt::set_Templates()");
    {
        StoreAccess store(*this);
        if (!store.view()) {
            LogExt(L"CVelnorIEExt::set_Templates() -> no mapping");
            return S_OK;
        }
        // A text that would not fit with its terminator is refused whole: nothing is written
        // past the section and the stored text stays as it was. The caller learns of it.
        if (!WriteTemplateText(store.view(), newVal)) {
            LogExt(L"CVelnorIEExt::set_Templates() -> refused: %d characters, at most %d fit",
                   static_cast<int>(wcslen(newVal)), static_cast<int>(kMaxTemplateTextLength));
            return E_INVALIDARG;
        }
        LogExt(L"CVelnorIEExt::set_Templates() -> updated");
    }
    LogExt(L"CVelnorIEExt::set_Templates() -> finished");
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::get_DebugTime(LONG* pVal) {
    if (!pVal) return E_POINTER;
    LogExt(L"CVelnorIEExt::get_DebugTime()");
    *pVal = 0;
    StoreAccess store(*this);
    if (!store.view()) return S_OK;
    const LONG value = ReadDebugTime(store.view());
    LogExt(L"CVelnorIEExt::get_DebugTime() -> %d", static_cast<int>(value));
    *pVal = value;
    return S_OK;
}

STDMETHODIMP CVelnorIEExt::put_DebugTime(LONG newVal) {
    LogExt(L"CVelnorIEExt::put_DebugTime(%d)", static_cast<int>(newVal));
    if (m_debugTimerId != 0) {
        TimerMapRemove(m_debugTimerId);
        KillTimer(nullptr, m_debugTimerId);
        ForgetTimer(m_debugTimerId);
        m_debugTimerId = 0;
    }
    {
        StoreAccess store(*this);
        if (store.view()) {
            LogExt(L"CVelnorIEExt::put_DebugTime() -> %d", static_cast<int>(ReadDebugTime(store.view())));
            WriteDebugTime(store.view(), newVal);
        }
    }
    if (newVal > 0) {
        const UINT milliseconds = newVal > static_cast<LONG>(kMaxDebugTimerMs / 1000)
                                      ? kMaxDebugTimerMs
                                      : static_cast<UINT>(newVal) * 1000;
        m_debugTimerId = StartTimer(milliseconds);
        m_debugTimeWritten = newVal;
        if (m_debugTimerId == 0)
            LogExt(L"CVelnorIEExt::put_DebugTime() -> SetTimer failed: %d", static_cast<int>(GetLastError()));
    }
    return S_OK;
}
