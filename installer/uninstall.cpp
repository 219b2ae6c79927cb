// DllUninstallExt and DllUnregisterExt: the silent undoing of an installation. The uninstall
// entry runs DllUninstallExt from the installed copy; it unregisters that copy through
// DllUnregisterExt, moves the file into the temporary folder, deletes the entry and removes
// the product folder when it is empty. No step's result stops the next.
#include "common/process_launch.h"
#include "common/wide_format.h"
#include "installer/install_names.h"
#include "logging/log_writer.h"
#include "server/exports.h"

namespace {

void UninstallCopy(const std::wstring& installFolder, const wchar_t* fileName) {
    const std::wstring target = JoinPath(installFolder, fileName);
    const std::wstring backup = GetBackupPath(fileName);
    const std::wstring rundll32 = GetSystemProgram(kRundll32);
    const std::wstring parameters = FormatWide(L"\"%s\",DllUnregisterExt", target.c_str());
    if (!rundll32.empty()) ShellExecuteProcess(rundll32.c_str(), parameters.c_str(), false, INFINITE);
    // Without a temporary folder the file stays where it is (a relative backup path would move
    // it into whatever folder rundll32 runs in).
    if (backup.empty()) return;
    DeleteFileW(backup.c_str());
    MoveFileW(target.c_str(), backup.c_str());
}

}  // namespace

extern "C" void CALLBACK DllUninstallExt(HWND, HINSTANCE, LPSTR, int) {
    try {
        const std::wstring installFolder = GetInstallFolder(IsWow64());
        if (installFolder.empty()) return;
#if defined(_WIN64)
        // The one uninstall entry of a 64-bit installation belongs to this build; the 32-bit
        // copy beside it is uninstalled first, by its own build in a 32-bit rundll32.
        const std::wstring twin = FormatWide(L"\"%s\",DllUninstallExt", JoinPath(installFolder, kDll32Name).c_str());
        const std::wstring twinRundll32 = GetTwinRundll32();
        if (!twinRundll32.empty()) ShellExecuteProcess(twinRundll32.c_str(), twin.c_str(), false, INFINITE);
#endif
        UninstallCopy(installFolder, kThisDllName);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey);
        RemoveDirectoryW(installFolder.c_str());
    } catch (...) {
        // Out of memory: nothing more can be done.
    }
}

extern "C" HRESULT CALLBACK DllUnregisterExt(HWND, HINSTANCE, LPSTR, int) {
    return UnregisterModule(true);
}
