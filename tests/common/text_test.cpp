// Text helpers: the split that the credentials text is read with.
#include "common/text.h"

#include <gtest/gtest.h>

namespace {

using Pieces = std::vector<std::wstring>;

TEST(SplitStringTest, KeepsEmptyFieldsUnlessAskedToSkipThem) {
    EXPECT_EQ((Pieces{L"a", L"b"}), SplitString(L"a\rb", L'\r', false));
    EXPECT_EQ((Pieces{L"a", L"b", L""}), SplitString(L"a\rb\r", L'\r', false));
    EXPECT_EQ((Pieces{L"a", L"", L"b"}), SplitString(L"a\r\rb", L'\r', false));
    EXPECT_EQ((Pieces{L""}), SplitString(L"", L'\r', false));
    EXPECT_EQ((Pieces{L""}), SplitString(nullptr, 0, L'\r', false));
    EXPECT_EQ((Pieces{}), SplitString(L"", L'\n', true));
    EXPECT_EQ((Pieces{L"x", L"y"}), SplitString(L"x\n\ny\n", L'\n', true));
    EXPECT_EQ((Pieces{L"only"}), SplitString(L"\n\nonly\n\n", L'\n', true));
}

}  // namespace
