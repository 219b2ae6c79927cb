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

TEST(ProcessLaunchTest, FailedStartIsLoggedOnceAsUtilsAndReportedFalse) {
    const std::wstring folder = FreshFolder(L"launch-failure");
    CreateDirectoryW((folder + L"\\logs").c_str(), nullptr);
    SetInstallPath(folder);
    SetLogLevelDword(2);
    // The child reports what ShellExecuteProcess returned through its exit code.
    const int code = RunProgram(L"log_child.exe", L"launch C:\\no\\such\\program.exe");
    SetInstallPath(OwnInstallPath());
    SetLogLevelDword(4);
    EXPECT_EQ(0, code);
    const std::string log = ReadFileBytes(folder + L"\\logs\\log.txt");
    const std::string line = "[Utils] [Local] ";
    ASSERT_NE(std::string::npos, log.find(line));
    EXPECT_EQ(log.find(line), log.rfind(line)) << "one line";
    // The code is the system's (Windows reports 2 for a missing file; Wine without a display
    // reports the failed error dialog instead).
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\]: ShellExecuteProcess\(\) -> failed: \d+\r\n)"))) << log;
}

TEST(ProcessLaunchTest, Wow64IsTrueOnlyForThe32BitBuild) {
    // The test prefix is a 64-bit Wine prefix, like 64-bit Windows.
    EXPECT_EQ(!Is64BitProcess(), IsWow64());
}

TEST(ProcessLaunchTest, ModuleFolderKeepsItsBackslash) {
    EXPECT_EQ(BinFolder(), GetModuleFolder());
}

TEST(ProcessLaunchTest, TempFolderDropsTheTrailingBackslash) {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    ASSERT_GT(length, 1u);
    EXPECT_EQ(std::wstring(temp, length - 1), GetTempFolder());
    EXPECT_NE(L'\\', GetTempFolder().back());
}

}  // namespace
