// A separate process for log-writer tests (the log level is read once per process).
//   log_child one             one line through LogExt
//   log_child levels          one line through each entry point
//   log_child format          the printf convention, a non-ANSI character and a long message
//   log_child many N ID       N numbered lines through LogExt
//   log_child launch PROGRAM  ShellExecuteProcess of PROGRAM; exit code 1 when it reported success
//   log_child sleep MS        sleeps (a program for ShellExecuteProcess to wait for)
#include "common/module.h"
#include "common/process_launch.h"
#include "logging/log_writer.h"

#include <cstdlib>
#include <string>

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
        const std::wstring payload(120, static_cast<wchar_t>(L'a' + (_wtoi(argv[3]) % 26)));
        for (int i = 0; i < count; ++i) LogExt(L"proc=%s seq=%d %s end", id.c_str(), i, payload.c_str());
    } else if (mode == L"launch" && argc > 2) {
        return ShellExecuteProcess(argv[2], argc > 3 ? argv[3] : L"", false, INFINITE) ? 1 : 0;
    } else if (mode == L"sleep" && argc > 2) {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        return 7;
    } else {
        return 2;
    }
    return 0;
}
