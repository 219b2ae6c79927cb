#include "support/test_environment.h"

#include "common/unique_owner.h"
#include "logging/log_writer.h"
#include "logging/settings.h"

#include <fstream>
#include <sstream>

namespace testenv {

std::wstring BinFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

void DeleteTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring FreshFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root = std::wstring(temp) + L"velnor-tests";
    CreateDirectoryW(root.c_str(), nullptr);
    const std::wstring folder = root + L"\\" + name;
    DeleteTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::string ReadFileBytes(const std::wstring& path) {
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    unique_file file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> ListFolder(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

HANDLE StartProgram(const std::wstring& program, const std::wstring& arguments) {
    const std::wstring path = program.find(L'\\') == std::wstring::npos ? BinFolder() + program : program;
    std::wstring commandLine = L"\"" + path + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

int RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs) {
    unique_handle process(StartProgram(program, arguments));
    if (!process) return -1;
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

ProgramResult RunProgramCaptured(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs) {
    ProgramResult result;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    unique_handle reader(readEnd), writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    const std::wstring path = program.find(L'\\') == std::wstring::npos ? BinFolder() + program : program;
    std::wstring commandLine = L"\"" + path + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return result;
    CloseHandle(process.hThread);
    unique_handle child(process.hProcess);
    writer.reset();
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) result.output.append(buffer, read);
    if (WaitForSingleObject(child.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(child.get(), 1);
        return result;
    }
    DWORD code = 0;
    GetExitCodeProcess(child.get(), &code);
    result.exitCode = static_cast<int>(code);
    return result;
}

void SetInstallPath(const std::wstring& path) {
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"InstallPath", path.c_str());
}

void SetLogLevelDword(DWORD level) {
    unique_hkey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    RegSetValueExW(key.get(), L"LogLevel", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&level), sizeof(level));
}

void SetLogLevelText(const std::wstring& level) {
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"LogLevel", level.c_str());
}

void SetSettingDword(const wchar_t* name, DWORD value) {
    unique_hkey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void SetSettingMultiString(const wchar_t* name, const std::vector<std::wstring>& strings) {
    std::wstring data;
    for (const std::wstring& text : strings) data += text + L'\0';
    data += L'\0';
    unique_hkey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    RegSetValueExW(key.get(), name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

void DeleteSetting(const wchar_t* name) {
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_WRITE, key.put()) == ERROR_SUCCESS)
        RegDeleteValueW(key.get(), name);
}

std::wstring OwnInstallPath() {
    static const std::wstring path = [] {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        return std::wstring(temp) + L"velnor-tests-own";
    }();
    return path;
}

std::wstring OwnLogFile() { return OwnInstallPath() + L"\\logs\\log.txt"; }

LogCapture::LogCapture() : m_start(ReadFileBytes(OwnLogFile()).size()) {}

std::string LogCapture::Text() const {
    const std::string all = ReadFileBytes(OwnLogFile());
    return all.size() > m_start ? all.substr(m_start) : std::string();
}

std::vector<std::string> LogCapture::Messages() const {
    std::vector<std::string> messages;
    std::istringstream lines(Text());
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t header = line.find("]: ");
        messages.push_back(header == std::string::npos ? line : line.substr(header + 3));
    }
    return messages;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

void PumpMessages(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

bool Is64BitProcess() { return sizeof(void*) == 8; }

}  // namespace testenv
