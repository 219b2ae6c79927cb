#include "storetool/tool_output.h"

#include "common/text.h"
#include "common/unique_owner.h"

#include <windows.h>

#include <cwchar>

namespace {

void Write(FILE* stream, const std::string& utf8) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Utf8ToWide(utf8);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    fwrite(utf8.data(), 1, utf8.size(), stream);
    fflush(stream);
}

}  // namespace

void Out(const std::string& text) { Write(stdout, text); }
void Err(const std::string& text) { Write(stderr, text); }

std::string Narrow(const wchar_t* text) { return WideToUtf8(text ? text : L""); }

bool ReadTextFile(const wchar_t* path, std::string& bytes) {
    unique_file file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    bytes.clear();
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    // A UTF-8 byte-order mark is no part of the text.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    return true;
}

bool Ask(const std::string& question) {
    Err(question + " [y/N] ");
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring answer;
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode)) {
        wchar_t buffer[64];
        DWORD read = 0;
        if (ReadConsoleW(input, buffer, ARRAYSIZE(buffer), &read, nullptr)) answer.assign(buffer, read);
    } else {
        // One byte at a time, so that what follows the line stays for the next question.
        for (char byte = 0;;) {
            DWORD read = 0;
            if (!::ReadFile(input, &byte, 1, &read, nullptr) || read == 0 || byte == '\n') break;
            answer += static_cast<wchar_t>(static_cast<unsigned char>(byte));
        }
        Err("\n");
    }
    while (!answer.empty() && (answer.back() == L'\r' || answer.back() == L'\n' || answer.back() == L' ')) answer.pop_back();
    return _wcsicmp(answer.c_str(), L"y") == 0 || _wcsicmp(answer.c_str(), L"yes") == 0;
}

bool IsHelpSwitch(const wchar_t* argument) {
    return wcscmp(argument, L"--help") == 0 || wcscmp(argument, L"-h") == 0 || wcscmp(argument, L"/?") == 0;
}

namespace {

volatile LONG g_interrupted = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
    InterlockedExchange(&g_interrupted, 1);
    return TRUE;
}

}  // namespace

ConsoleInterrupt::ConsoleInterrupt() {
    InterlockedExchange(&g_interrupted, 0);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

ConsoleInterrupt::~ConsoleInterrupt() { SetConsoleCtrlHandler(OnConsoleControl, FALSE); }

bool ConsoleInterrupt::raised() const { return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0; }
