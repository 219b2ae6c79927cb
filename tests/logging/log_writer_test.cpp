// The log writer, driven through child processes (the level is read once per process) that
// write into a fresh folder, and its path helpers in process.
#include "common/unique_owner.h"
#include "common/wide_format.h"
#include "logging/log_writer.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace testenv;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));   // an unterminated tail: torn
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class LogWriterTest : public testing::Test {
protected:
    void SetUp() override {
        m_install = FreshFolder(L"log-writer");
        CreateDirectoryW((m_install + L"\\logs").c_str(), nullptr);
        SetInstallPath(m_install);
    }
    void TearDown() override {
        SetInstallPath(OwnInstallPath());
        SetLogLevelDword(4);
    }
    std::wstring LogFolder() const { return m_install + L"\\logs"; }
    std::wstring LogFile() const { return LogFolder() + L"\\log.txt"; }
    std::string LogText() const { return ReadFileBytes(LogFile()); }
    std::vector<std::wstring> Backups() const { return ListFolder(LogFolder(), L"*.bak"); }

    std::wstring m_install;
};

TEST_F(LogWriterTest, EntryPointsWriteFromTheirThreshold) {
    struct Case {
        int level;
        bool ext, dll, utilsError, utils;
    };
    for (const Case& c : {Case{1, false, false, false, false}, Case{2, true, true, true, false},
                          Case{3, true, true, true, false}, Case{4, true, true, true, true},
                          Case{9, true, true, true, true}}) {
        SCOPED_TRACE(c.level);
        DeleteFileW(LogFile().c_str());
        SetLogLevelDword(static_cast<DWORD>(c.level));
        ASSERT_EQ(0, RunProgram(L"log_child.exe", L"levels"));
        const std::string text = LogText();
        EXPECT_EQ(c.ext, Contains(text, "[VelnorIEExt] [Local] ") && Contains(text, "entry LogExt\r\n"));
        EXPECT_EQ(c.dll, Contains(text, "[Dll] [Local] ") && Contains(text, "entry LogDll\r\n"));
        EXPECT_EQ(c.utilsError, Contains(text, "entry LogUtilsError\r\n"));
        EXPECT_EQ(c.utils, Contains(text, "entry LogUtils\r\n"));
        if (c.level < 2) {
            EXPECT_FALSE(FileExists(LogFile())) << "no file is created below level 2";
        }
    }
}

TEST_F(LogWriterTest, LevelAsDecimalTextActsAsTheNumber) {
    SetLogLevelText(L"3");
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"levels"));
    const std::string text = LogText();
    EXPECT_TRUE(Contains(text, "entry LogDll"));
    EXPECT_FALSE(Contains(text, "entry LogUtils\r\n"));
}

TEST_F(LogWriterTest, NoLevelOrNoInstallPathWritesNothing) {
    DeleteSetting(L"LogLevel");
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"levels"));
    EXPECT_FALSE(FileExists(LogFile()));

    SetLogLevelDword(4);
    DeleteSetting(L"InstallPath");
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"levels"));
    EXPECT_FALSE(FileExists(LogFile()));
}

TEST_F(LogWriterTest, LineHasTheHeaderAndFollowsTheWindowsPrintfConvention) {
    SetLogLevelDword(2);
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"format"));
    const std::vector<std::string> lines = Lines(LogText());
    ASSERT_EQ(3u, lines.size());
    const std::regex header(R"(^(\d{2})\.(\d{2})\.(\d{4}) \d{2}:\d{2}:\d{2} \[log_child\.exe\] \[VelnorIEExt\] \[Local\] \[\d+\] \[\d+\]: (.*)$)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, header)) << lines[0];
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(now.wYear, std::stoi(match[3]));
    EXPECT_EQ("convention wide|narrow|-5|ABC", match[4].str());

    // A character outside the ANSI code page becomes its default character.
    EXPECT_TRUE(Contains(lines[1], "outside ANSI [?]")) << lines[1];
    // No fixed buffer cuts a long message.
    EXPECT_TRUE(Contains(lines[2], "long " + std::string(10000, 'x'))) << lines[2].size();
}

TEST_F(LogWriterTest, InstallPathEndingInBackslashStillFindsItsFolder) {
    SetInstallPath(m_install + L"\\");
    SetLogLevelDword(2);
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"levels"));
    EXPECT_TRUE(Contains(LogText(), "entry LogExt"));
}

TEST_F(LogWriterTest, RotatesOnlyFromOneMebibyteOn) {
    SetLogLevelDword(2);
    WriteFileBytes(LogFile(), std::string(kLogRotateSize - 1, 'p'));
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"one"));
    EXPECT_TRUE(Backups().empty());
    const std::string grown = LogText();
    EXPECT_GT(grown.size(), kLogRotateSize);

    // Now the file is full: the next line is appended, then the file moves to its .bak name.
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"one"));
    const std::vector<std::wstring> backups = Backups();
    ASSERT_EQ(1u, backups.size());
    EXPECT_TRUE(std::regex_match(Narrow(backups[0]), std::regex(R"(log-\d{4}\.\d{2}\.\d{2}-\d{2}\.\d{2}\.\d{2}\.bak)")))
        << Narrow(backups[0]);
    const std::string rotated = ReadFileBytes(LogFolder() + L"\\" + backups[0]);
    EXPECT_EQ(0u, rotated.find(grown));
    EXPECT_EQ(1u, Lines(rotated.substr(grown.size())).size());
    EXPECT_FALSE(FileExists(LogFile()));

    // The next line starts a fresh file.
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"one"));
    EXPECT_EQ(1u, Lines(LogText()).size());
}

TEST_F(LogWriterTest, FailedMoveKeepsTheFileGrowingUntilAMoveWorks) {
    SetLogLevelDword(2);
    WriteFileBytes(LogFile(), std::string(kLogRotateSize, 'p'));
    // Occupy the rotation names of the next minute, so that every move fails.
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILETIME start;
    SystemTimeToFileTime(&now, &start);
    std::vector<std::wstring> blockers;
    for (int second = 0; second < 60; ++second) {
        ULARGE_INTEGER t;
        t.LowPart = start.dwLowDateTime;
        t.HighPart = start.dwHighDateTime;
        t.QuadPart += static_cast<ULONGLONG>(second) * 10000000ULL;
        FILETIME ft{t.LowPart, t.HighPart};
        SYSTEMTIME st;
        FileTimeToSystemTime(&ft, &st);
        const std::wstring name = FormatWide(L"%s\\log-%d.%.2d.%.2d-%.2d.%.2d.%.2d.bak", LogFolder().c_str(),
                                             st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
        blockers.push_back(name);
        WriteFileBytes(name, "blocker");
    }
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"one"));
    const size_t afterFirst = LogText().size();
    EXPECT_GT(afterFirst, kLogRotateSize);
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"one"));
    EXPECT_GT(LogText().size(), afterFirst) << "the move failed, so log.txt grows on";

    for (const std::wstring& blocker : blockers) DeleteFileW(blocker.c_str());
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"one"));
    EXPECT_EQ(1u, Backups().size());
    EXPECT_FALSE(FileExists(LogFile()));
}

TEST_F(LogWriterTest, ABusyMutexDelaysALineButNeverDropsIt) {
    SetLogLevelDword(2);
    unique_handle mutex(CreateMutexW(nullptr, TRUE, L"Global\\Velnor#MWriteLog"));
    ASSERT_TRUE(mutex);
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"levels", 20000));
    ReleaseMutex(mutex.get());
    EXPECT_TRUE(Contains(LogText(), "entry LogExt"));
}

TEST_F(LogWriterTest, ALineMeetingARotationUnderWayIsNotLost) {
    // Another process is moving the file away (MoveFile holds it open for deletion) while a
    // writer that did not get the mutex in time appends.
    SetLogLevelDword(2);
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"one", 20000));
    unique_file moving(CreateFileW(LogFile().c_str(), DELETE | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
    ASSERT_TRUE(moving);
    ASSERT_EQ(0, RunProgram(L"log_child.exe", L"one", 20000));
    moving.reset();
    size_t lines = 0;
    for (const std::string& line : Lines(LogText())) lines += Contains(line, "entry LogExt");
    EXPECT_EQ(2u, lines);
}

TEST_F(LogWriterTest, ConcurrentProcessesLoseAndTearNoLine) {
    SetLogLevelDword(2);
    constexpr int kProcesses = 4;
    constexpr int kLines = 2000;
    std::vector<unique_handle> children;
    for (int id = 0; id < kProcesses; ++id)
        children.emplace_back(StartProgram(L"log_child.exe", L"many " + std::to_wstring(kLines) + L" " + std::to_wstring(id)));
    for (auto& child : children) {
        ASSERT_TRUE(child);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.get(), 300000));
    }
    const std::regex whole(R"(^\d{2}\.\d{2}\.\d{4} \d{2}:\d{2}:\d{2} \[log_child\.exe\] \[VelnorIEExt\] \[Local\] \[\d+\] \[\d+\]: proc=(\d) seq=(\d+) ([a-z]{120}) end$)");
    std::map<int, std::vector<int>> seen;
    std::string text = LogText();
    for (const std::wstring& backup : Backups()) text = ReadFileBytes(LogFolder() + L"\\" + backup) + text;
    for (const std::string& line : Lines(text)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, whole)) << "torn or interleaved: " << line.substr(0, 200);
        const int id = std::stoi(match[1]);
        EXPECT_EQ(std::string(120, static_cast<char>('a' + id)), match[3].str());
        seen[id].push_back(std::stoi(match[2]));
    }
    ASSERT_EQ(static_cast<size_t>(kProcesses), seen.size());
    for (const auto& process : seen) {
        ASSERT_EQ(static_cast<size_t>(kLines), process.second.size()) << "process " << process.first;
        for (int i = 0; i < kLines; ++i) ASSERT_EQ(i, process.second[i]) << "process " << process.first;
    }
}

TEST(LogPathTest, JoinPathPutsExactlyOneBackslashBetween) {
    EXPECT_EQ(L"C:\\logs\\log.txt", JoinPath(L"C:\\logs", L"log.txt"));
    EXPECT_EQ(L"C:\\logs\\log.txt", JoinPath(L"C:\\logs\\", L"log.txt"));
    EXPECT_EQ(L"log.txt", JoinPath(L"", L"log.txt"));
    EXPECT_EQ(L"C:\\logs\\", JoinPath(L"C:\\logs", nullptr));
}

TEST(LogPathTest, FileNamePartIsWhatFollowsTheLastBackslash) {
    EXPECT_EQ(L"iexplore.exe", GetFileNamePart(L"C:\\Program Files\\Internet Explorer\\iexplore.exe"));
    EXPECT_EQ(L"rundll32.exe", GetFileNamePart(L"rundll32.exe"));
    EXPECT_EQ(L"", GetFileNamePart(L"C:\\folder\\"));
}

}  // namespace
