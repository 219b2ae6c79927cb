#include "server/type_library.h"

#include "common/com_ptr.h"
#include "common/hresult.h"
#include "common/unique_owner.h"
#include "server/module.h"

namespace {

using RegisterForUser = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterForUser = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

template <typename F>
F OleAutomationFunction(const char* name) {
    HMODULE oleaut = GetModuleHandleW(L"OLEAUT32.DLL");
    if (!oleaut) return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(oleaut, name)));
}

}  // namespace

HRESULT LoadModuleTypeLibrary(HINSTANCE moduleInstance, const wchar_t* index, BSTR* path,
                              ITypeLib** typeLib) {
    if (!path || !typeLib) return E_POINTER;
    *path = nullptr;
    *typeLib = nullptr;

    // Room for the 260-character path plus a suffix of up to 9 characters.
    wchar_t modulePath[MAX_PATH + 10];
    const DWORD length = GetModuleFileNameW(moduleInstance, modulePath, MAX_PATH);
    if (length == 0) return HResultFromLastError();
    if (length == MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    size_t extension = length;
    for (size_t i = length; i > 0; --i) {
        if (modulePath[i - 1] == L'\\') break;
        if (modulePath[i - 1] == L'.') {
            extension = i - 1;
            break;
        }
    }
    if (index) {
        const size_t indexLength = wcslen(index);
        if (length + indexLength > MAX_PATH + 9) return E_FAIL;
        wcscpy(modulePath + length, index);
    }

    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLib(modulePath, library.put());
    if (FAILED(hr)) {
        if (extension + 4 >= MAX_PATH) return E_FAIL;
        wcscpy(modulePath + extension, L".tlb");
        hr = LoadTypeLib(modulePath, library.put());
        if (FAILED(hr)) return hr;
    }
    BSTR loadedFrom = SysAllocString(modulePath);
    if (!loadedFrom) return E_OUTOFMEMORY;
    *path = loadedFrom;
    *typeLib = library.detach();
    return S_OK;
}

HRESULT RegisterTypeLibrary(HINSTANCE moduleInstance, const wchar_t* index) {
    unique_bstr path;
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadModuleTypeLibrary(moduleInstance, index, path.put(), library.put()));

    unique_bstr helpFile;
    library->GetDocumentation(-1, nullptr, nullptr, nullptr, helpFile.put());
    wchar_t helpFolder[MAX_PATH] = L"";
    if (helpFile && helpFile.get()[0]) {
        lstrcpynW(helpFolder, helpFile.get(), MAX_PATH);
        wchar_t* cut = nullptr;
        for (wchar_t* p = helpFolder; *p; ++p)
            if (*p == L'\\' || *p == L'/' || *p == L':') cut = p;
        if (cut) cut[1] = L'\0';
    }
    OLECHAR* helpDirectory = helpFolder[0] ? helpFolder : nullptr;

    if (g_perUserRegistration) {
        if (auto registerForUser = OleAutomationFunction<RegisterForUser>("RegisterTypeLibForUser"))
            return registerForUser(library.get(), path.get(), helpDirectory);
    }
    return RegisterTypeLib(library.get(), path.get(), helpDirectory);
}

HRESULT UnregisterTypeLibrary(HINSTANCE moduleInstance, const wchar_t* index) {
    unique_bstr path;
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadModuleTypeLibrary(moduleInstance, index, path.put(), library.put()));
    TLIBATTR* attributes = nullptr;
    RETURN_IF_FAILED(library->GetLibAttr(&attributes));
    const TLIBATTR attr = *attributes;
    library->ReleaseTLibAttr(attributes);

    if (g_perUserRegistration) {
        if (auto unregisterForUser = OleAutomationFunction<UnregisterForUser>("UnRegisterTypeLibForUser"))
            return unregisterForUser(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, attr.syskind);
    }
    return UnRegisterTypeLib(attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, attr.lcid, attr.syskind);
}
