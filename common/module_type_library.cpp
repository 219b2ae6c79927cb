#include "common/module_type_library.h"

#include "common/com_ptr.h"
#include "common/hresult.h"

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
