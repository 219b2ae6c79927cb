// DllUninstallExt and DllUnregisterExt: the silent undoing of an installation. The uninstall
// entry runs DllUninstallExt from the installed copy; it unregisters that copy through
// DllUnregisterExt, moves the file into the temporary folder, deletes the entry and removes
// the product folder when it is empty. No step's result stops the next; the rundll32 process
// ends with exit code 0 when the copies were unregistered and moved away, 1 otherwise. It never
// shows a box; "QUIET" is accepted (and passed on to the 32-bit copy's run) for scripts that
// give it to every entry point alike.
#include "common/process_launch.h"
#include "common/wide_format.h"
#include "installer/install_names.h"
#include "logging/log_writer.h"
#include "server/exports.h"

namespace {

bool UninstallCopy(const std::wstring& installFolder, const wchar_t* fileName) {
    const std::wstring target = JoinPath(installFolder, fileName);
    const std::wstring backup = GetBackupPath(fileName);
    const std::wstring rundll32 = GetSystemProgram(kRundll32);
    const std::wstring parameters = FormatWide(L"\"%s\",DllUnregisterExt", target.c_str());
    DWORD unregistered = kInstallFailed;
    if (!rundll32.empty()) ShellExecuteProcess(rundll32.c_str(), parameters.c_str(), false, INFINITE, &unregistered);
    // Without a temporary folder the file stays where it is (a relative backup path would move
    // it into whatever folder rundll32 runs in).
    if (backup.empty()) return false;
    DeleteFileW(backup.c_str());
    const bool moved = MoveFileW(target.c_str(), backup.c_str()) != FALSE;
    return unregistered == kInstallSucceeded && moved;
}

}  // namespace

extern "C" void CALLBACK DllUninstallExt(HWND, HINSTANCE, LPSTR commandLine, int) {
    DWORD outcome = kInstallFailed;
    try {
        [[maybe_unused]] const bool quiet = ParseInstallerSwitches(commandLine).quiet;
        const std::wstring installFolder = GetInstallFolder(IsWow64());
        if (!installFolder.empty()) {
            bool succeeded = true;
#if defined(_WIN64)
            // The one uninstall entry of a 64-bit installation belongs to this build; the 32-bit
            // copy beside it is uninstalled first, by its own build in a 32-bit rundll32. A 64-bit
            // build installed on its own has no such copy: there is nothing for that run to do,
            // and a run that cannot load its file would only turn a clean uninstall into a failure.
            const std::wstring copy32 = JoinPath(installFolder, kDll32Name);
            if (GetFileAttributesW(copy32.c_str()) != INVALID_FILE_ATTRIBUTES) {
                const std::wstring twin = FormatWide(L"\"%s\",DllUninstallExt%s", copy32.c_str(), quiet ? L" QUIET" : L"");
                const std::wstring twinRundll32 = GetTwinRundll32();
                DWORD twinOutcome = kInstallFailed;
                succeeded = !twinRundll32.empty() &&
                            ShellExecuteProcess(twinRundll32.c_str(), twin.c_str(), false, INFINITE, &twinOutcome) &&
                            twinOutcome == kInstallSucceeded;
            }
#endif
            succeeded = UninstallCopy(installFolder, kThisDllName) && succeeded;
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey);
            RemoveDirectoryW(installFolder.c_str());
            if (succeeded) outcome = kInstallSucceeded;
        }
    } catch (...) {
        // Out of memory: nothing more can be done.
    }
    ExitRundll32(outcome);
}

extern "C" HRESULT CALLBACK DllUnregisterExt(HWND, HINSTANCE, LPSTR, int) {
    const HRESULT hr = UnregisterModule(true);
    ExitRundll32(SUCCEEDED(hr) ? kInstallSucceeded : kInstallFailed);
    return hr;
}
