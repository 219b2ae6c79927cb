#include "server/type_library.h"

#include "common/com_ptr.h"
#include "common/hresult.h"
#include "common/module_type_library.h"
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
