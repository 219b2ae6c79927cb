// A separate process for log-writer tests (the log level is read once per process).
//   log_child one             one line through LogExt
//   log_child levels          one line through each entry point
//   log_child format          the printf convention, a non-ANSI character and a long message
//   log_child many N ID       N numbered lines through LogExt
//   log_child launch PROGRAM  ShellExecuteProcess of PROGRAM; exit code 1 when it reported success
//   log_child sleep MS        sleeps (a program for ShellExecuteProcess to wait for)
//   log_child unserialised N LINES FOLDER
//                             N writers of LINES lines each ("many") into FOLDER\logs while no
//                             writer can have the log mutex: its name is held by an object of
//                             another kind. Prints the lost and torn lines; exit code 1 for any.
//   log_child audit           one audit event of each kind the store tool writes, with texts as
//                             pages and catalogs may write them (audit_events_trace.sh)
#include "common/module.h"
#include "common/process_launch.h"
#include "common/unique_owner.h"
#include "logging/log_writer.h"
#include "logging/settings.h"
#include "storetool/audit_trail.h"
#include "support/log_lines.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The path a writer takes when the mutex gives it nothing (its 100 ms ran out, or it has none),
// for every line of every writer. Nothing may have opened the mutex in this prefix before: this
// process logs nothing itself.
int RunUnserialisedWriters(int writers, int lines, const std::wstring& install) {
    unique_handle squatter(CreateEventW(nullptr, TRUE, FALSE, L"Global\\Velnor#MWriteLog"));
    if (!squatter || GetLastError() == ERROR_ALREADY_EXISTS) {
        printf("the log mutex's name is taken already: run this in a prefix of its own\n");
        return 2;
    }
    const std::wstring logs = install + L"\\logs";
    CreateDirectoryW(install.c_str(), nullptr);
    CreateDirectoryW(logs.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((logs + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do DeleteFileW((logs + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"InstallPath", install.c_str());
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"LogLevel", L"2");
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::vector<unique_handle> children;
    for (int id = 0; id < writers; ++id) {
        std::wstring command = L"\"" + std::wstring(self) + L"\" many " + std::to_wstring(lines) + L" " + std::to_wstring(id);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return 2;
        CloseHandle(info.hThread);
        children.emplace_back(info.hProcess);
    }
    for (const unique_handle& child : children) WaitForSingleObject(child.get(), INFINITE);
    int lost = 0, torn = 0;
    loglines::Count(loglines::ReadFolder(logs), writers, lines, &lost, &torn);
    printf("%d writers x %d lines without the mutex: %d lost, %d torn\n", writers, lines, lost, torn);
    return lost + torn == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_moduleInstance = GetModuleHandleW(nullptr);
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"one") {
        LogExt(L"entry LogExt");
    } else if (mode == L"levels") {
        LogExt(L"entry LogExt");
        LogDll(L"entry LogDll");
        LogUtilsError(L"entry LogUtilsError");
        LogUtils(L"entry LogUtils");
    } else if (mode == L"format") {
        LogExt(L"convention %s|%S|%d|%X", L"wide", "narrow", -5, 0xABCu);
        LogExt(L"outside ANSI [%s]", L"\x4E2D");
        LogExt(L"long %s", std::wstring(10000, L'x').c_str());
    } else if (mode == L"many" && argc > 3) {
        const int count = _wtoi(argv[2]);
        const std::wstring id = argv[3];
        // A payload long enough that a torn or interleaved line cannot pass for a whole one.
        const std::wstring payload = loglines::Payload(_wtoi(argv[3]));
        for (int i = 0; i < count; ++i) LogExt(L"proc=%s seq=%d %s end", id.c_str(), i, payload.c_str());
    } else if (mode == L"launch" && argc > 2) {
        return ShellExecuteProcess(argv[2], argc > 3 ? argv[3] : L"", false, INFINITE) ? 1 : 0;
    } else if (mode == L"unserialised" && argc > 4) {
        return RunUnserialisedWriters(_wtoi(argv[2]), _wtoi(argv[3]), argv[4]);
    } else if (mode == L"audit") {
        const std::wstring site = L"https://intranet.example.com", name = L"intranet\r\nforged line";
        SignOnOutcome record;
        record.how = kEvidenceSeen;
        for (const char* outcome : {kOutcomeSucceeded, kOutcomeFailed, kOutcomeChangeRequired, kOutcomeNotSubmitted}) {
            record.outcome = outcome;
            AuditSignOnOutcome(site, name, L"Velnor:intranet", record);
        }
        AuditRefusalNoted(L"Velnor:intranet", site);
        AuditRefusalLifted(L"Velnor:intranet", RefusalLifted::CredentialSetAnew);
        AuditRefusalLifted(L"Velnor:intranet", RefusalLifted::Retry);
        for (PasswordChangeResult result :
             {PasswordChangeResult::Replaced, PasswordChangeResult::Kept, PasswordChangeResult::NoAnswer})
            AuditPasswordChange(result, site, L"Velnor:intranet", L"intranet-password");
    } else if (mode == L"sleep" && argc > 2) {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        return 7;
    } else {
        return 2;
    }
    return 0;
}
