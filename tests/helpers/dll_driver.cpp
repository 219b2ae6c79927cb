// Calls the exports of a DLL in a fresh process, one operation after the other:
//   dll_driver DLL register | unregister | install:TEXT | install:(null) | uninstall:TEXT
// Each operation runs with a German thread locale that must be there again afterwards.
// Exit code: the first failing HRESULT, 3 when a locale was not restored, else 0.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    HMODULE dll = LoadLibraryW(argv[1]);
    if (!dll) return static_cast<int>(HRESULT_FROM_WIN32(GetLastError()));
    using Plain = HRESULT(WINAPI*)();
    using Install = HRESULT(WINAPI*)(BOOL, LPCWSTR);
    const auto registerServer = reinterpret_cast<Plain>(reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
    const auto unregisterServer = reinterpret_cast<Plain>(reinterpret_cast<void*>(GetProcAddress(dll, "DllUnregisterServer")));
    const auto install = reinterpret_cast<Install>(reinterpret_cast<void*>(GetProcAddress(dll, "DllInstall")));
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);

    for (int i = 2; i < argc; ++i) {
        const std::wstring op = argv[i];
        SetThreadLocale(german);
        HRESULT hr = E_INVALIDARG;
        if (op == L"register") {
            hr = registerServer();
        } else if (op == L"unregister") {
            hr = unregisterServer();
        } else if (op.rfind(L"install:", 0) == 0 || op.rfind(L"uninstall:", 0) == 0) {
            const bool doInstall = op[0] == L'i';
            const std::wstring text = op.substr(op.find(L':') + 1);
            hr = install(doInstall, text == L"(null)" ? nullptr : text.c_str());
        }
        if (GetThreadLocale() != german) return 3;
        if (FAILED(hr)) {
            fprintf(stderr, "dll_driver: %ls failed: 0x%08lX\n", op.c_str(), static_cast<unsigned long>(hr));
            return static_cast<int>(hr);
        }
    }
    return 0;
}
