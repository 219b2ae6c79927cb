// Helper of the package verification and the installer tests, run under Wine beside the
// product:
//   package_check run-uninstall        runs the uninstall entry's own command (64-bit view, then
//                                      32-bit view) as the list of installed programs does
//   package_check uninstall-command    prints that command
//   package_check run "COMMAND LINE"   runs a command line as it stands and returns its exit code
//   package_check watch-dialogs FILE   records every message box that appears (caption, a tab,
//                                      text, one per line in FILE) and presses its OK button;
//                                      runs until killed
//   package_check mutex-absent         exit code 0 when "VelnorIE#Install" does not exist
//   package_check hold-mutex MS        holds "VelnorIE#Install" for MS milliseconds
//   package_check short-path PATH      prints the short (8.3) spelling of an existing path
//   package_check dump-rows            prints every registry row the product's registration
//                                      writes, as 64-bit Windows keeps them: a key both views
//                                      share once ("shared"), a redirected key per view ("64",
//                                      "32"); one per line, sorted
//   package_check create-class         creates the class through COM in this program's bitness
//                                      and asks it for Status; exit code 0 when it answers "ready"
//   package_check arp-entries NAME     prints the product code (or key name) and DisplayVersion of
//                                      each entry of the list of installed programs called NAME
//                                      (the list leaves out entries marked SystemComponent)
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelnorIEExt";

std::wstring UninstallCommand() {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) continue;
        wchar_t command[1024] = L"";
        DWORD size = sizeof(command) - sizeof(wchar_t);
        DWORD type = 0;
        const LSTATUS status =
            RegQueryValueExW(key, L"UninstallString", nullptr, &type, reinterpret_cast<BYTE*>(command), &size);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS && type == REG_SZ) return command;
    }
    return std::wstring();
}

int Run(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 2;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

void AppendLine(const wchar_t* file, const std::wstring& line) {
    HANDLE out = CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    std::string utf8(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.back() = '\n';
    DWORD written = 0;
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(out);
}

int WatchDialogs(const wchar_t* file) {
    for (;;) {
        HWND dialog = nullptr;
        while ((dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr)) != nullptr) {
            if (!IsWindowVisible(dialog)) continue;
            wchar_t caption[512] = L"", text[1024] = L"";
            GetWindowTextW(dialog, caption, 512);
            GetDlgItemTextW(dialog, 0xFFFF, text, 1024);
            AppendLine(file, std::wstring(caption) + L"\t" + text);
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            Sleep(200);
            break;
        }
        Sleep(50);
    }
}

// The keys a registration of the product writes, under HKLM (HKCR is HKLM\Software\Classes
// for a machine-wide registration), with whether 64-bit Windows 7 and later keeps them once for
// both views. Under Software\Classes only CLSID, Interface, DirectShow, Media Type and
// MediaFoundation are redirected ("Registry Keys Affected by WOW64"); Software itself is
// redirected, so the Browser Helper Object key is kept per view. Wine 8 redirects more of Classes
// (AppID and TypeLib) than Windows does, so the rows of a shared key are read from both views and
// merged: what Windows would hold in its one key.
struct ProductKey {
    const wchar_t* path;
    bool shared;
};
const ProductKey kProductKeys[] = {
    {L"Software\\Classes\\CLSID\\{5D3A8C21-7E4B-4F19-A6D2-3B9E0C7F1A54}", false},
    {L"Software\\Classes\\VelnorIE.VelnorIEExt", true},
    {L"Software\\Classes\\VelnorIE.VelnorIEExt.1", true},
    {L"Software\\Classes\\AppID\\{2C9F4E6A-1B83-4D7E-8A05-F3B6D92E7C18}", true},
    {L"Software\\Classes\\AppID\\VelnorIE.DLL", true},
    {L"Software\\Classes\\TypeLib\\{8B6E2F07-C3D1-4A5E-9F28-6D0A4B7C3E91}", true},
    {L"Software\\Classes\\Interface\\{4E8B2D17-9C3A-4F65-B1D8-7A2C5E9F0B36}", false},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\{5D3A8C21-7E4B-4F19-A6D2-3B9E0C7F1A54}", false},
    {L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VelnorIE", true},
};

// "view path [value]=type:data" for the key, its values and everything under it.
void DumpKey(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* viewName, std::vector<std::wstring>& rows) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    rows.push_back(std::wstring(viewName) + L" " + path);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0;
        BYTE data[2048];
        DWORD size = sizeof(data) - 2;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        std::wstring text;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            data[size] = data[size + 1] = 0;
            text = reinterpret_cast<const wchar_t*>(data);
        } else if (type == REG_DWORD && size == 4) {
            text = std::to_wstring(*reinterpret_cast<const DWORD*>(data));
        } else {
            text = L"(" + std::to_wstring(size) + L" bytes)";
        }
        rows.push_back(std::wstring(viewName) + L" " + path + L" [" + name + L"]=" + std::to_wstring(type) + L":" + text);
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    for (const std::wstring& subkey : subkeys) DumpKey(root, path + L"\\" + subkey, view, viewName, rows);
}

void PrintSorted(std::vector<std::wstring>& rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const std::wstring& row : rows) printf("%ls\n", row.c_str());
}

int DumpRows() {
    std::vector<std::wstring> rows;
    for (const ProductKey& key : kProductKeys) {
        DumpKey(HKEY_LOCAL_MACHINE, key.path, KEY_WOW64_64KEY, key.shared ? L"shared" : L"64", rows);
        DumpKey(HKEY_LOCAL_MACHINE, key.path, KEY_WOW64_32KEY, key.shared ? L"shared" : L"32", rows);
    }
    PrintSorted(rows);
    return 0;
}

int CreateClass() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const CLSID clsid = {0x5d3a8c21, 0x7e4b, 0x4f19, {0xa6, 0xd2, 0x3b, 0x9e, 0x0c, 0x7f, 0x1a, 0x54}};
    IDispatch* object = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
    bool ready = false;
    if (SUCCEEDED(hr)) {
        LPOLESTR name = const_cast<LPOLESTR>(L"Status");
        DISPID id = 0;
        DISPPARAMS none = {};
        VARIANT result;
        VariantInit(&result);
        if (SUCCEEDED(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)) &&
            SUCCEEDED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr)))
            ready = V_VT(&result) == VT_BSTR && V_BSTR(&result) && wcscmp(V_BSTR(&result), L"ready") == 0;
        VariantClear(&result);
        object->Release();
    }
    printf("CoCreateInstance: 0x%08lX, Status %s\n", static_cast<unsigned long>(hr), ready ? "ready" : "not ready");
    CoUninitialize();
    return ready ? 0 : 1;
}

int ArpEntries(const wchar_t* displayName) {
    // Both registry views; an entry seen in both (a shared key) is listed once.
    const wchar_t uninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    std::vector<std::wstring> entries;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, uninstall, 0, KEY_READ | view, &key) != ERROR_SUCCESS) continue;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD nameLength = 256;
            if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            wchar_t display[512] = L"", version[64] = L"";
            DWORD size = sizeof(display) - 2;
            RegGetValueW(key, name, L"DisplayName", RRF_RT_REG_SZ, nullptr, display, &size);
            size = sizeof(version) - 2;
            RegGetValueW(key, name, L"DisplayVersion", RRF_RT_REG_SZ, nullptr, version, &size);
            DWORD systemComponent = 0;
            size = sizeof(systemComponent);
            RegGetValueW(key, name, L"SystemComponent", RRF_RT_REG_DWORD, nullptr, &systemComponent, &size);
            if (systemComponent == 1) continue;
            const std::wstring entry = std::wstring(name) + L" " + version;
            if (wcscmp(display, displayName) == 0 && std::find(entries.begin(), entries.end(), entry) == entries.end())
                entries.push_back(entry);
        }
        RegCloseKey(key);
    }
    for (const std::wstring& entry : entries) printf("%ls\n", entry.c_str());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"run-uninstall") {
        const std::wstring command = UninstallCommand();
        return command.empty() ? 1 : Run(command);
    }
    if (mode == L"run" && argc > 2) return Run(argv[2]);
    if (mode == L"uninstall-command") {
        printf("%ls\n", UninstallCommand().c_str());
        return 0;
    }
    if (mode == L"watch-dialogs" && argc > 2) return WatchDialogs(argv[2]);
    if (mode == L"mutex-absent") {
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"VelnorIE#Install");
        if (mutex) CloseHandle(mutex);
        return mutex ? 1 : 0;
    }
    if (mode == L"hold-mutex" && argc > 2) {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, L"VelnorIE#Install");
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        CloseHandle(mutex);
        return 0;
    }
    if (mode == L"short-path" && argc > 2) {
        wchar_t shortPath[MAX_PATH] = L"";
        const DWORD length = GetShortPathNameW(argv[2], shortPath, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return 1;
        printf("%ls\n", shortPath);
        return 0;
    }
    if (mode == L"dump-rows") return DumpRows();
    if (mode == L"create-class") return CreateClass();
    if (mode == L"arp-entries" && argc > 2) return ArpEntries(argv[2]);
    fprintf(stderr, "usage: package_check run-uninstall | uninstall-command | watch-dialogs FILE | mutex-absent | hold-mutex MS"
                    " | short-path PATH | dump-rows | create-class | arp-entries NAME\n");
    return 2;
}
