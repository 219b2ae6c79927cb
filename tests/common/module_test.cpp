// The module object: lock count and termination list.
#include "common/module.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ModuleTest, LockCountRisesAndFalls) {
    const LONG before = GetModuleLockCount();
    EXPECT_EQ(before + 1, LockModule());
    EXPECT_EQ(before + 2, LockModule());
    EXPECT_EQ(before + 1, UnlockModule());
    EXPECT_EQ(before, UnlockModule());
}

std::vector<int> g_calls;
void Record(void* argument) { g_calls.push_back(static_cast<int>(reinterpret_cast<intptr_t>(argument))); }

TEST(ModuleTest, TerminationCallbacksRunOnceMostRecentFirst) {
    CVelnorIEModule* const processModule = GetModule();
    g_calls.clear();
    {
        CVelnorIEModule module(GUID_NULL);
        EXPECT_EQ(&module, GetModule());
        for (intptr_t i = 1; i <= 3; ++i)
            ASSERT_EQ(S_OK, module.AddTerminationCallback(Record, reinterpret_cast<void*>(i)));
        EXPECT_TRUE(g_calls.empty());
    }
    SetModuleForTesting(processModule);
    EXPECT_EQ((std::vector<int>{3, 2, 1}), g_calls);
}

}  // namespace
