// DllUninstallExt and DllUnregisterExt: the silent undoing of an installation. The uninstall
// entry runs DllUninstallExt from the installed copy; it unregisters that copy through
// DllUnregisterExt, takes the file out of the install folder (moved aside inside it and deleted,
// or deleted at the next restart while a browser still has it loaded: never through the user's
// temporary folder), deletes the entry and removes the product folder when it is empty. No
// step's result stops the next; the rundll32 process ends with exit code 0 when the copies were
// unregistered and taken out, 1 otherwise. It never
// shows a box; "QUIET" is accepted (and passed on to the 32-bit copy's run) for scripts that
// give it to every entry point alike.
#include "common/process_launch.h"
#include "common/wide_format.h"
#include "installer/audit_source.h"
#include "installer/install_steps.h"
#include "logging/audit_events.h"
#include "logging/log_writer.h"
#include "server/exports.h"

namespace {

bool UninstallCopy(const std::wstring& installFolder, const wchar_t* fileName) {
    const std::wstring target = JoinPath(installFolder, fileName);
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    const bool unregistered =
        RunToSuccess(GetSystemProgram(kRundll32), FormatWide(L"\"%s\",DllUnregisterExt", target.c_str()), false);
    return RemoveInstalledCopy(target) && unregistered;
}

}  // namespace

extern "C" void CALLBACK DllUninstallExt(HWND, HINSTANCE, LPSTR commandLine, int) {
    RestrictDllSearchToSystem32();
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
                succeeded = RunToSuccess(GetTwinRundll32(), twin, false);
                // The 32-bit run could not delete its own copy, which its process had loaded; that
                // process has ended now.
                DeleteAsideCopy(copy32 + kBackupSuffix);
            }
#endif
            succeeded = UninstallCopy(installFolder, kThisDllName) && succeeded;
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey);
            RemoveInstallFolder(installFolder);
            if (succeeded) outcome = kInstallSucceeded;
            // The native build's run is the whole uninstall (a 32-bit copy's run under WOW64 is
            // one step of it): it reports, then takes the source out that it registered.
            if (!IsWow64()) {
                ReportAuditEvent(succeeded ? MSG_UNINSTALLED : MSG_UNINSTALL_FAILED, {installFolder});
                UnregisterAuditSource();
            }
        }
    } catch (...) {
        // Out of memory: nothing more can be done.
    }
    ExitRundll32(outcome);
}

extern "C" HRESULT CALLBACK DllUnregisterExt(HWND, HINSTANCE, LPSTR, int) {
    RestrictDllSearchToSystem32();
    const HRESULT hr = UnregisterModule(true);
    ExitRundll32(SUCCEEDED(hr) ? kInstallSucceeded : kInstallFailed);
    return hr;
}
