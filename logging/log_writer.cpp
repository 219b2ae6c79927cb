#include "logging/log_writer.h"

#include "common/object_security.h"
#include "common/process_context.h"
#include "common/unique_owner.h"
#include "common/wide_format.h"
#include "logging/log_mutex.h"
#include "logging/settings.h"

#include <vector>

namespace {

const wchar_t kLogFileName[] = L"log.txt";

// Process-wide state, filled in on first use and kept until the process ends. The SRW lock
// makes sure no thread ever sees a value half written; the mutex handle and the paths are
// deliberately never freed (other threads may be inside WriteLog while the process ends).
struct WriterState {
    SRWLOCK lock = SRWLOCK_INIT;
    bool securityBuilt = false;
    ObjectSecurity security;
    std::wstring* folder = nullptr;
    std::wstring* path = nullptr;
    HANDLE mutex = nullptr;
    std::wstring processName;
};

WriterState& State() {
    static WriterState* state = new WriterState;
    return *state;
}

int ConfiguredLevel() {
    // Read once per process; a thread-safe static, so two first callers never race.
    static const int level = ReadLogLevelSetting();
    return level;
}

class SharedLock {
public:
    explicit SharedLock(SRWLOCK* lock) : m_lock(lock) { AcquireSRWLockExclusive(m_lock); }
    ~SharedLock() { ReleaseSRWLockExclusive(m_lock); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SRWLOCK* m_lock;
};

std::wstring ProcessName() {
    WriterState& state = State();
    SharedLock guard(&state.lock);
    if (state.processName.empty()) {
        wchar_t buffer[MAX_PATH] = L"";
        const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
        state.processName = GetFileNamePart(std::wstring(buffer, length < MAX_PATH ? length : MAX_PATH - 1));
    }
    return state.processName;
}

// Append-only access: on Windows the file system puts every write at the end of the file. Read
// access is there only because byte-range locks need it (AppendLock). Delete sharing
// lets a rotation (which opens the file for deletion to move it) and an append meet: without it,
// a writer that did not get the mutex in time lost its line when it came upon a move under way,
// and its still open file would keep a rotation from moving the file. A sharing violation (a
// program that opened the file without sharing it) is retried for a short while.
unique_file OpenLogFile(const std::wstring& path) {
    // The sharing violation lasts only while another process moves the file away, but on a busy
    // machine that process can be descheduled mid-move for tens of milliseconds: retry for a
    // time, not a count, so the line is not lost to the scheduler.
    constexpr ULONGLONG kRetryMs = 250;
    const ULONGLONG start = GetTickCount64();
    for (int attempt = 1;; ++attempt) {
        unique_file file(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || GetLastError() != ERROR_SHARING_VIOLATION || GetTickCount64() - start > kRetryMs) return file;
        Sleep(attempt < 5 ? 0 : 1);
    }
}

// A lock on one byte far beyond the end of any log, held while a line is sized and appended. The
// mutex serialises writers only while each gets it within 100 ms; one that did not still writes,
// and an append on its own is atomic only where the file system makes it so (Wine finds the end
// and then writes there, so two such writers put their lines at the same offset: one line lost,
// or two torn). The byte-range lock is the file's own and spans processes; it is held for one
// write only, so waiting for it costs microseconds, and it is given up after a bounded time like
// the mutex (the line is then written all the same). Closing the handle releases it too.
class AppendLock {
public:
    explicit AppendLock(HANDLE file) : m_file(file) {
        constexpr ULONGLONG kGiveUpMs = 250;
        const ULONGLONG start = GetTickCount64();
        for (int attempt = 1;; ++attempt) {
            OVERLAPPED at = Region();
            if (LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
                m_locked = true;
                return;
            }
            if (GetTickCount64() - start > kGiveUpMs) return;
            Sleep(attempt < 5 ? 0 : 1);
        }
    }
    ~AppendLock() {
        OVERLAPPED at = Region();
        if (m_locked) UnlockFileEx(m_file, 0, 1, 0, &at);
    }
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;

private:
    static OVERLAPPED Region() {
        OVERLAPPED at = {};
        at.OffsetHigh = 0x7FFFFFFF;   // no log grows there, and readers never read there
        return at;
    }
    HANDLE m_file;
    bool m_locked = false;
};

// Every missing folder of an absolute path ending in a backslash; failures show at the open.
void CreateFolderPath(const std::wstring& folder) {
    for (size_t slash = folder.find(L'\\', 3); slash != std::wstring::npos; slash = folder.find(L'\\', slash + 1))
        CreateDirectoryW(folder.substr(0, slash).c_str(), nullptr);
}

void LogWithLevel(int threshold, const wchar_t* moduleName, const wchar_t* format, va_list args) {
    if (!IsLogLevel(threshold)) return;
    WriteLogLine(moduleName, format, args);
}

}  // namespace

bool IsLogLevel(int threshold) {
    return ConfiguredLevel() >= threshold;
}

std::wstring JoinPath(const std::wstring& folder, const wchar_t* name) {
    std::wstring joined = folder;
    if (!joined.empty() && joined.back() != L'\\') joined += L'\\';
    if (name) joined += name;
    return joined;
}

std::wstring GetFileNamePart(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void WriteLogLine(const wchar_t* moduleName, const wchar_t* format, va_list args) {
    try {
        const std::wstring message = FormatWideV(format, args);
        const std::wstring processName = ProcessName();
        SYSTEMTIME now;
        GetLocalTime(&now);
        const wchar_t* session = GetSystemMetrics(SM_REMOTESESSION) ? L"Remote" : L"Local";
        std::wstring line = FormatWide(L"%.2d.%.2d.%.2d %.2d:%.2d:%.2d [%s] [%s] [%s] [%d] [%d]: ",
                                       now.wDay, now.wMonth, now.wYear, now.wHour, now.wMinute,
                                       now.wSecond, processName.c_str(), moduleName, session,
                                       static_cast<int>(GetCurrentProcessId()),
                                       static_cast<int>(GetCurrentThreadId()));
        line += message;
        line += L"\r\n";

        const int lineUnits = static_cast<int>(line.size());
        const int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, line.data(), lineUnits, nullptr, 0,
                                              nullptr, nullptr);
        if (bytes <= 0) return;
        std::vector<char> converted(static_cast<size_t>(bytes));
        WideCharToMultiByte(CP_THREAD_ACP, 0, line.data(), lineUnits, converted.data(), bytes,
                            nullptr, nullptr);
        WriteLog(converted.data(), static_cast<DWORD>(bytes));
    } catch (...) {
        // Out of memory: the line is lost, the caller goes on.
    }
}

void WriteLog(const char* bytes, DWORD count) {
    WriterState& state = State();
    std::wstring path, folder;
    HANDLE mutex = nullptr;
    {
        SharedLock guard(&state.lock);
        if (!state.securityBuilt) {
            // Every user and integrity level (low-integrity tabs, the elevated installer) may
            // wait on the mutex and release it; nobody may do more (a null DACL would let any
            // process change its security or hold it for good under another name's rights).
            state.security.FromSddl(LogMutexSddl());
            state.securityBuilt = true;
        }
        if (ConfiguredLevel() <= 0) return;
        if (!state.path) {
            // While InstallPath is empty it is asked for again on every call.
            std::wstring logFolder = GetLogFolder();
            if (logFolder.empty()) return;
            // Nobody but the tabs themselves can make the folder in a container's own space.
            if (CurrentProcessContext().appContainer) CreateFolderPath(logFolder);
            state.folder = new std::wstring(logFolder);
            state.path = new std::wstring(JoinPath(logFolder, kLogFileName));
        }
        // Only the rights the DACL gives everyone are asked for, so that a mutex another user
        // made opens too.
        if (!state.mutex)
            state.mutex = CreateMutexExW(state.security.attributes(),
                                         LogMutexName(CurrentProcessContext().appContainer).c_str(), 0,
                                         SYNCHRONIZE | MUTEX_MODIFY_STATE);
        path = *state.path;
        folder = *state.folder;
        mutex = state.mutex;
    }

    // Whatever the wait gives (signalled, abandoned, timed out), the line is written.
    if (mutex) WaitForSingleObject(mutex, 100);

    unique_file file = OpenLogFile(path);
    if (file) {
        DWORD sizeBefore;
        {
            AppendLock append(file.get());
            sizeBefore = GetFileSize(file.get(), nullptr);
            SetFilePointer(file.get(), 0, nullptr, FILE_END);
            DWORD written = 0;
            WriteFile(file.get(), bytes, count, &written, nullptr);
        }
        file.reset();
        // INVALID_FILE_SIZE counts as full, so rotation is tried. A writer without the mutex that
        // measured a file the holder has since moved may move the fresh one after it: its lines
        // then stand in a short ".bak" of their own, none lost.
        if (sizeBefore >= kLogRotateSize) RotateLog(path.c_str(), folder.c_str());
    }

    if (mutex) ReleaseMutex(mutex);
}

bool RotateLog(const wchar_t* path, const wchar_t* folder) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    try {
        const std::wstring name = FormatWide(L"log-%d.%.2d.%.2d-%.2d.%.2d.%.2d.bak", now.wYear,
                                             now.wMonth, now.wDay, now.wHour, now.wMinute,
                                             now.wSecond);
        const std::wstring target = JoinPath(folder ? folder : L"", name.c_str());
        return MoveFileW(path, target.c_str()) != FALSE;
    } catch (...) {
        return false;
    }
}

void LogExt(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    LogWithLevel(2, L"VelnorIEExt", format, args);
    va_end(args);
}

void LogDll(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    LogWithLevel(2, L"Dll", format, args);
    va_end(args);
}

void LogUtilsError(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    LogWithLevel(2, L"Utils", format, args);
    va_end(args);
}

void LogUtils(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    LogWithLevel(4, L"Utils", format, args);
    va_end(args);
}
