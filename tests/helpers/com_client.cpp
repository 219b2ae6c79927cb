// A separate program that uses the registered class the way a script host does: CoCreateInstance
// by CLSID (or ProgID), then every call by name through IDispatch. Exit code 0 when all worked.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>

namespace {

const CLSID kClsid = {0x5d3a8c21, 0x7e4b, 0x4f19, {0xa6, 0xd2, 0x3b, 0x9e, 0x0c, 0x7f, 0x1a, 0x54}};

HRESULT Invoke(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* argument, VARIANT* result) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {argument, flags == DISPATCH_PROPERTYPUT ? &named : nullptr, argument ? 1u : 0u,
                         flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

int Fail(const char* what, HRESULT hr) {
    fprintf(stderr, "com_client: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID clsid = kClsid;
    if (argc > 1 && FAILED(CLSIDFromProgID(argv[1], &clsid))) return Fail("CLSIDFromProgID", E_FAIL);
    IDispatch* object = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) return Fail("CoCreateInstance", hr);

    VARIANT result;
    VariantInit(&result);
    hr = Invoke(object, L"Status", DISPATCH_PROPERTYGET, nullptr, &result);
    if (FAILED(hr) || V_VT(&result) != VT_BSTR || wcscmp(V_BSTR(&result), L"ready") != 0) return Fail("Status", hr);
    VariantClear(&result);

    VARIANT text;
    VariantInit(&text);
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"[\"from com_client\"]");
    hr = Invoke(object, L"Templates", DISPATCH_PROPERTYPUT, &text, nullptr);
    if (FAILED(hr)) return Fail("put Templates", hr);
    hr = Invoke(object, L"Templates", DISPATCH_PROPERTYGET, nullptr, &result);
    if (FAILED(hr) || V_VT(&result) != VT_BSTR || wcscmp(V_BSTR(&result), V_BSTR(&text)) != 0)
        return Fail("get Templates", hr);
    VariantClear(&result);
    VariantClear(&text);

    hr = Invoke(object, L"DebugTime", DISPATCH_PROPERTYGET, nullptr, &result);
    if (FAILED(hr) || V_VT(&result) != VT_I4) return Fail("DebugTime", hr);

    object->Release();
    CoUninitialize();
    return 0;
}
