// Creating extension objects as the class object does, and driving them as script does.
#pragma once

#include "common/com_ptr.h"
#include "common/unique_owner.h"
#include "extension/velnor_ie_ext.h"
#include "host/browser_host.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace exttest {

inline ComPtr<IVelnorIEExt> CreateExtension() {
    ComPtr<IVelnorIEExt> object;
    EXPECT_EQ(S_OK, CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, object.put_void()));
    return object;
}

// The object behind its identity interface, for what the browser cannot see.
inline CVelnorIEExt* Impl(const ComPtr<IVelnorIEExt>& object) { return static_cast<CVelnorIEExt*>(object.get()); }

inline DISPID DispIdOf(IDispatch* object, const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(S_OK, object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) << testenv::Narrow(name);
    return id;
}

// What a script engine does for `object.name` and `object.name = value` and `object.name(args)`.
inline HRESULT GetByName(IDispatch* object, const wchar_t* name, VARIANT* result) {
    DISPPARAMS none = {};
    return object->Invoke(DispIdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result,
                          nullptr, nullptr);
}

inline HRESULT PutByName(IDispatch* object, const wchar_t* name, VARIANT value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &named, 1, 1};
    return object->Invoke(DispIdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                          nullptr, nullptr);
}

inline HRESULT CallByName(IDispatch* object, const wchar_t* name, std::vector<VARIANT> arguments, VARIANT* result) {
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return object->Invoke(DispIdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                          nullptr, nullptr);
}

inline std::wstring Templates(const ComPtr<IVelnorIEExt>& object) {
    unique_bstr text;
    EXPECT_EQ(S_OK, object->get_Templates(text.put()));
    return text ? std::wstring(text.get(), SysStringLen(text.get())) : std::wstring();
}

inline HRESULT PutTemplates(const ComPtr<IVelnorIEExt>& object, const std::wstring& text) {
    unique_bstr value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    return object->put_Templates(value.get());
}

// The store as a program of the session reaches it (as the store tool does), not through any
// extension object: under template isolation the object without a page reads and writes nothing.
inline std::wstring StoreText() {
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    const TemplateStore::View view = store.Access();
    return view ? view.ReadText() : std::wstring();
}

inline bool SetStoreText(const std::wstring& text) {
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    TemplateStore::View view = store.Access();
    return view && view.WriteText(text.c_str());
}

// The text with every "stamp" member the extension wrote taken out: what the page itself wrote.
inline std::wstring WithoutStamps(std::wstring text) {
    for (size_t at; (at = text.find(L",\"stamp\":{")) != std::wstring::npos;)
        text.erase(at, text.find(L'}', at) - at + 1);
    return text;
}

inline LONG DebugTime(const ComPtr<IVelnorIEExt>& object) {
    LONG value = -1;
    EXPECT_EQ(S_OK, object->get_DebugTime(&value));
    return value;
}

inline size_t Count(const std::vector<std::string>& lines, const std::string& line) {
    size_t n = 0;
    for (const auto& l : lines) n += l == line;
    return n;
}

}  // namespace exttest
