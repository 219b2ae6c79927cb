// The settings readers against Wine's real registry.
#include "common/unique_owner.h"
#include "logging/settings.h"

#include <gtest/gtest.h>

namespace {

const wchar_t kTestKey[] = L"SOFTWARE\\VelnorTests\\Settings";

class SettingsTest : public testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VelnorTests"); }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VelnorTests"); }

    void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        unique_hkey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                                 key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size));
    }
    void SetText(const wchar_t* name, DWORD type, const std::wstring& text) {
        SetValue(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    int Int(const wchar_t* name) { return RegGetKeyInt(HKEY_LOCAL_MACHINE, kTestKey, name, -77); }
    std::wstring Str(const wchar_t* name) { return RegGetKeyStr(HKEY_LOCAL_MACHINE, kTestKey, name, L"default"); }
};

TEST_F(SettingsTest, IntegerAcceptsDwordOfFourBytesAndDecimalText) {
    const DWORD four = 4;
    SetValue(L"Dword", REG_DWORD, &four, sizeof(four));
    EXPECT_EQ(4, Int(L"Dword"));
    const DWORD negative = 0xFFFFFFFE;
    SetValue(L"Negative", REG_DWORD, &negative, sizeof(negative));
    EXPECT_EQ(-2, Int(L"Negative"));

    SetText(L"Text", REG_SZ, L"4");
    EXPECT_EQ(4, Int(L"Text"));
    SetText(L"Padded", REG_SZ, L"  \t-12abc7");
    EXPECT_EQ(-12, Int(L"Padded"));
    SetText(L"Plus", REG_SZ, L"+9");
    EXPECT_EQ(9, Int(L"Plus"));
    SetText(L"NoDigits", REG_SZ, L"verbose");
    EXPECT_EQ(0, Int(L"NoDigits"));
    SetText(L"Empty", REG_SZ, L"");
    EXPECT_EQ(0, Int(L"Empty"));
}

TEST_F(SettingsTest, IntegerTextBeyondThirtyTwoBitsSaturates) {
    SetText(L"Huge", REG_SZ, L"99999999999999999999");
    EXPECT_EQ(INT_MAX, Int(L"Huge"));
    SetText(L"HugeNegative", REG_SZ, L"-99999999999999999999");
    EXPECT_EQ(INT_MIN, Int(L"HugeNegative"));
}

TEST_F(SettingsTest, IntegerRefusesOtherTypesAndSizes) {
    const DWORD four = 4;
    SetValue(L"Binary", REG_BINARY, &four, sizeof(four));
    EXPECT_EQ(-77, Int(L"Binary"));
    const ULONGLONG wide = 4;
    SetValue(L"Qword", REG_QWORD, &wide, sizeof(wide));
    EXPECT_EQ(-77, Int(L"Qword"));
    SetValue(L"ShortDword", REG_DWORD, &four, 2);
    EXPECT_EQ(-77, Int(L"ShortDword"));
    SetText(L"Expand", REG_EXPAND_SZ, L"4");
    EXPECT_EQ(-77, Int(L"Expand"));
    EXPECT_EQ(-77, Int(L"Missing"));
}

TEST_F(SettingsTest, StringTakesTextTypesAsStored) {
    SetText(L"Plain", REG_SZ, L"C:\\Program Files\\Zorvanti");
    EXPECT_EQ(L"C:\\Program Files\\Zorvanti", Str(L"Plain"));
    SetText(L"Expand", REG_EXPAND_SZ, L"%ProgramFiles%\\Zorvanti");
    EXPECT_EQ(L"%ProgramFiles%\\Zorvanti", Str(L"Expand"));
    const wchar_t multi[] = L"first\0second\0";
    SetValue(L"Multi", REG_MULTI_SZ, multi, sizeof(multi));
    EXPECT_EQ(L"first", Str(L"Multi"));
    const DWORD number = 1;
    SetValue(L"Number", REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(L"default", Str(L"Number"));
    EXPECT_EQ(L"default", Str(L"Missing"));
}

TEST_F(SettingsTest, StringWithoutTerminatorEndsWithTheData) {
    const wchar_t text[] = {L'a', L'b', L'c'};
    SetValue(L"Unterminated", REG_SZ, text, sizeof(text));
    EXPECT_EQ(L"abc", Str(L"Unterminated"));
    const char odd[] = {'a', 0, 'b'};   // an odd byte count: the half unit is dropped
    SetValue(L"Odd", REG_SZ, odd, sizeof(odd));
    EXPECT_EQ(L"a", Str(L"Odd"));
}

TEST_F(SettingsTest, QueryHandsOutTypeSizeAndData) {
    SetText(L"Value", REG_SZ, L"xy");
    DWORD type = 0, size = 0;
    BYTE* data = nullptr;
    ASSERT_TRUE(RegQueryKeyValue(HKEY_LOCAL_MACHINE, kTestKey, L"Value", &type, &size, &data));
    unique_localmem owned(data);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(6u, size);
    EXPECT_EQ(0, memcmp(data, L"xy", 6));
    EXPECT_FALSE(RegQueryKeyValue(HKEY_LOCAL_MACHINE, kTestKey, L"Missing", &type, &size, &data));
}

TEST_F(SettingsTest, ReadingAMissingKeyGivesDefaultsAndLeavesTheKeyBehind) {
    EXPECT_EQ(L"fallback", RegGetKeyStr(HKEY_LOCAL_MACHINE, kTestKey, L"InstallPath", L"fallback"));
    unique_hkey key;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, KEY_READ, key.put()));
}

TEST_F(SettingsTest, SetCreatesTheKeyAndWritesATerminatedString) {
    ASSERT_TRUE(RegSetKeyStr(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VelnorTests\\New\\Deeper", L"Name", L"value"));
    DWORD type = 0, size = 0;
    BYTE* data = nullptr;
    ASSERT_TRUE(RegQueryKeyValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VelnorTests\\New\\Deeper", L"Name", &type, &size, &data));
    unique_localmem owned(data);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(12u, size);
}

TEST(LogFolderTest, IsInstallPathFollowedByLogsWithoutTouchingSeparators) {
    const std::wstring saved = GetInstallPath();
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"InstallPath", L"C:\\Product\\");
    EXPECT_EQ(L"C:\\Product\\\\logs\\", GetLogFolder());
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"InstallPath", L"");
    EXPECT_EQ(L"", GetLogFolder());
    RegSetKeyStr(HKEY_LOCAL_MACHINE, kSettingsKey, L"InstallPath", saved.c_str());
    EXPECT_EQ(saved + L"\\logs\\", GetLogFolder());
}

TEST(LogFolderTest, ProtectedTabsLogUnderTheFolderTheyMayWrite) {
    const std::wstring low = L"C:\\Users\\u\\AppData\\Local\\Packages\\windows_ie_ac_001\\AC";
    EXPECT_EQ(low + L"\\Zorvanti\\logs\\", ProtectedTabLogFolder(low));
    EXPECT_EQ(low + L"\\Zorvanti\\logs\\", ProtectedTabLogFolder(low + L"\\"));
    EXPECT_EQ(L"", ProtectedTabLogFolder(L""));
    // Outside a container (here) the folder still comes from InstallPath alone.
    EXPECT_EQ(GetInstallPath().empty() ? std::wstring() : GetInstallPath() + L"\\logs\\", GetLogFolder());
}

}  // namespace
