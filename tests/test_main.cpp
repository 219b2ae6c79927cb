// The test programs' start: the module instance is the program itself (it carries the DLL's
// resources), COM runs in a single-threaded apartment as in a browser thread, and the program's
// own trace log goes to a folder of its own at the most verbose level.
#include "common/module.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <objbase.h>

int main(int argc, char** argv) {
    g_moduleInstance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    const std::wstring install = testenv::OwnInstallPath();
    testenv::DeleteTree(install);
    CreateDirectoryW(install.c_str(), nullptr);
    CreateDirectoryW((install + L"\\logs").c_str(), nullptr);
    testenv::SetInstallPath(install);
    testenv::SetLogLevelDword(4);

    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
