// Process launch and folder helpers, with real processes under Wine.
#include "common/process_launch.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <regex>

using namespace testenv;

namespace {

TEST(ProcessLaunchTest, WaitsForTheStartedProgram) {
    const std::wstring child = BinFolder() + L"log_child.exe";
    EXPECT_TRUE(ShellExecuteProcess(child.c_str(), L"sleep 300", false, INFINITE));
    EXPECT_TRUE(ShellExecuteProcess(child.c_str(), L"sleep 300", true, INFINITE)) << "runas";
    EXPECT_FALSE(ShellExecuteProcess(child.c_str(), L"sleep 5000", false, 50)) << "outlasted the wait";
}

TEST(ProcessLaunchTest, FailedStartGivesTheSystemsErrorAndWritesNoLog) {
    const std::wstring folder = FreshFolder(L"launch-failure");
    CreateDirectoryW((folder + L"\\logs").c_str(), nullptr);
    SetInstallPath(folder);
    SetLogLevelDword(2);
    // The child reports what ShellExecuteProcess returned through its exit code.
    const int code = RunProgram(L"log_child.exe", L"launch C:\\no\\such\\program.exe");
    SetInstallPath(OwnInstallPath());
    SetLogLevelDword(4);
    EXPECT_EQ(0, code);
    // The launch layer traces nothing itself: its callers (the installer) do, with the error.
    EXPECT_EQ("", ReadFileBytes(folder + L"\\logs\\log.txt"));
    DWORD exitCode = 12345, startError = 0;
    EXPECT_FALSE(ShellExecuteProcess(L"C:\\no\\such\\program.exe", L"", false, INFINITE, &exitCode, &startError));
    // (Windows reports 2 for a missing file; Wine without a display the failed error dialog.)
    EXPECT_NE(0u, startError);
    EXPECT_EQ(12345u, exitCode) << "untouched when nothing started";
    const std::wstring child = BinFolder() + L"log_child.exe";
    EXPECT_TRUE(ShellExecuteProcess(child.c_str(), L"sleep 10", false, INFINITE, &exitCode, &startError));
    EXPECT_EQ(0u, startError);
    EXPECT_EQ(7u, exitCode);
}

TEST(ProcessLaunchTest, Wow64IsTrueOnlyForThe32BitBuild) {
    // The test prefix is a 64-bit Wine prefix, like 64-bit Windows.
    EXPECT_EQ(!Is64BitProcess(), IsWow64());
}

TEST(ProcessLaunchTest, ModuleFolderKeepsItsBackslash) {
    EXPECT_EQ(BinFolder(), GetModuleFolder(nullptr));
}

TEST(ProcessLaunchTest, TempFolderDropsTheTrailingBackslash) {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    ASSERT_GT(length, 1u);
    EXPECT_EQ(std::wstring(temp, length - 1), GetTempFolder());
    EXPECT_NE(L'\\', GetTempFolder().back());
}

TEST(ProcessLaunchTest, AnOverLongTemporaryFolderIsNone) {
    // Long enough that GetTempPathW cannot give it in 260 units: none, never a cut-off or empty
    // path that a caller would join into a relative one.
    wchar_t saved[4096] = L"";
    const DWORD savedLength = GetEnvironmentVariableW(L"TMP", saved, 4096);
    const std::wstring folder = L"C:\\" + std::wstring(300, L'd');
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", folder.c_str()));
    EXPECT_EQ(L"", GetTempFolder());
    SetEnvironmentVariableW(L"TMP", savedLength ? saved : nullptr);
    EXPECT_NE(L"", GetTempFolder());
}

TEST(ProcessLaunchTest, SystemProgramsHaveFullPathsOfTheProcessesOwnBitness) {
    const std::wstring rundll32 = GetSystemProgram(L"rundll32.exe");
    wchar_t expected[MAX_PATH] = L"";
    if (IsWow64())
        GetSystemWow64DirectoryW(expected, MAX_PATH);
    else
        GetSystemDirectoryW(expected, MAX_PATH);
    EXPECT_EQ(std::wstring(expected) + L"\\rundll32.exe", rundll32);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(rundll32.c_str()));
}

TEST(ProcessLaunchTest, SameFileWhateverTheSpelling) {
    const std::wstring folder = FreshFolder(L"same-file");
    const std::wstring file = folder + L"\\Some Long Name.dll";
    WriteFileBytes(file, "x");
    WriteFileBytes(folder + L"\\other.dll", "x");
    wchar_t shortPath[MAX_PATH] = L"";
    ASSERT_GT(GetShortPathNameW(file.c_str(), shortPath, MAX_PATH), 0u);
    std::wstring upper = file;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    EXPECT_TRUE(IsSameFile(file, shortPath));
    EXPECT_TRUE(IsSameFile(file, upper));
    EXPECT_TRUE(IsSameFile(file, folder + L"\\.\\Some Long Name.dll"));
    EXPECT_FALSE(IsSameFile(file, folder + L"\\other.dll")) << "same bytes, another file";
    EXPECT_FALSE(IsSameFile(file, folder + L"\\missing.dll"));
}

}  // namespace
