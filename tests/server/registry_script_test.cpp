// The registry-script interpreter on the in-memory registry: the product's two scripts, the
// language's edge cases, and a robustness run over generated and mutated scripts.
#include "server/exports.h"
#include "server/module.h"
#include "server/registrar.h"
#include "server/registry_script.h"
#include "support/memory_registry.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kClsid = L"{5D3A8C21-7E4B-4F19-A6D2-3B9E0C7F1A54}";
const std::wstring kAppId = L"{2C9F4E6A-1B83-4D7E-8A05-F3B6D92E7C18}";
const std::wstring kLibId = L"{8B6E2F07-C3D1-4A5E-9F28-6D0A4B7C3E91}";
const std::wstring kBho = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";

std::wstring ModulePath() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

Lines Sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

Lines ModuleScriptRows(const std::wstring& classes) {
    return {classes + L"\\AppID",
            classes + L"\\AppID\\" + kAppId,
            classes + L"\\AppID\\" + kAppId + L" : (default) = REG_SZ VelnorIE",
            classes + L"\\AppID\\VelnorIE.DLL",
            classes + L"\\AppID\\VelnorIE.DLL : AppID = REG_SZ " + kAppId,
            L"HKLM\\SOFTWARE",
            L"HKLM\\SOFTWARE\\Microsoft",
            L"HKLM\\SOFTWARE\\Microsoft\\Windows",
            L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
            L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer",
            kBho,
            kBho + L"\\" + kClsid,
            kBho + L"\\" + kClsid + L" : (default) = REG_SZ VelnorIEExt",
            kBho + L"\\" + kClsid + L" : NoExplorer = REG_DWORD 1"};
}

Lines ClassScriptRows(const std::wstring& classes) {
    const std::wstring key = classes + L"\\CLSID\\" + kClsid;
    return {classes + L"\\VelnorIE.VelnorIEExt.1",
            classes + L"\\VelnorIE.VelnorIEExt.1 : (default) = REG_SZ Zorvanti",
            classes + L"\\VelnorIE.VelnorIEExt.1\\CLSID",
            classes + L"\\VelnorIE.VelnorIEExt.1\\CLSID : (default) = REG_SZ " + kClsid,
            classes + L"\\VelnorIE.VelnorIEExt",
            classes + L"\\VelnorIE.VelnorIEExt : (default) = REG_SZ Zorvanti",
            classes + L"\\VelnorIE.VelnorIEExt\\CLSID",
            classes + L"\\VelnorIE.VelnorIEExt\\CLSID : (default) = REG_SZ " + kClsid,
            classes + L"\\VelnorIE.VelnorIEExt\\CurVer",
            classes + L"\\VelnorIE.VelnorIEExt\\CurVer : (default) = REG_SZ VelnorIE.VelnorIEExt.1",
            classes + L"\\CLSID",
            key,
            key + L" : (default) = REG_SZ Zorvanti",
            key + L"\\ProgID",
            key + L"\\ProgID : (default) = REG_SZ VelnorIE.VelnorIEExt.1",
            key + L"\\VersionIndependentProgID",
            key + L"\\VersionIndependentProgID : (default) = REG_SZ VelnorIE.VelnorIEExt",
            key + L"\\Programmable",
            key + L"\\InprocServer32",
            key + L"\\InprocServer32 : (default) = REG_SZ " + ModulePath(),
            key + L"\\InprocServer32 : ThreadingModel = REG_SZ Apartment",
            key + L"\\TypeLib",
            key + L"\\TypeLib : (default) = REG_SZ " + kLibId,
            // Enhanced Protected Mode loads only add-ons of this category.
            key + L"\\Implemented Categories",
            key + L"\\Implemented Categories\\{59FB2056-D625-48D0-A944-1A85B5AB2640}"};
}

Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const ScriptVariable kModuleVariables[] = {{L"APPID", L"{2C9F4E6A-1B83-4D7E-8A05-F3B6D92E7C18}"}, {nullptr, nullptr}};

// The product's scripts, run from this program's resources (the DLL's own) against memory.
class ProductScriptTest : public testing::Test {
protected:
    void SetUp() override { SetScriptRegistryForTesting(&registry); }
    void TearDown() override {
        SetScriptRegistryForTesting(nullptr);
        g_perUserRegistration = false;
        EXPECT_EQ(0u, registry.OpenHandles()) << "every key object is closed";
    }
    HRESULT Run(UINT script, bool doRegister) {
        return UpdateRegistryFromScript(script, doRegister, script == 101 ? kModuleVariables : nullptr);
    }
    MemoryRegistry registry;
};

TEST_F(ProductScriptTest, RegistrationWritesExactlyTheTableRows) {
    ASSERT_EQ(S_OK, Run(101, true));
    ASSERT_EQ(S_OK, Run(102, true));
    EXPECT_EQ(Sorted(Join(ModuleScriptRows(L"HKCR"), ClassScriptRows(L"HKCR"))), registry.Dump());
}

TEST_F(ProductScriptTest, RegisteringTwiceClearsTheForceRemoveKeysInBetween) {
    ASSERT_EQ(S_OK, Run(102, true));
    registry.AddKey(L"HKCR\\CLSID\\" + kClsid + L"\\Stale");
    registry.AddKey(L"HKCR\\CLSID\\" + kClsid + L"\\Programmable\\Stale");
    ASSERT_EQ(S_OK, Run(102, true));
    EXPECT_EQ(Sorted(ClassScriptRows(L"HKCR")), registry.Dump());
}

TEST_F(ProductScriptTest, UnregistrationRemovesWhatItWroteAndKeepsNoRemoveKeys) {
    ASSERT_EQ(S_OK, Run(101, true));
    ASSERT_EQ(S_OK, Run(102, true));
    ASSERT_EQ(S_OK, Run(102, false));
    ASSERT_EQ(S_OK, Run(101, false));
    EXPECT_EQ(Sorted({L"HKCR\\AppID", L"HKCR\\CLSID", L"HKLM\\SOFTWARE", L"HKLM\\SOFTWARE\\Microsoft",
                      L"HKLM\\SOFTWARE\\Microsoft\\Windows", L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                      L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer", kBho}),
              registry.Dump());
}

TEST_F(ProductScriptTest, UnregistrationOfNothingSucceedsAndTouchesNothing) {
    registry.AddKey(L"HKCR\\Unrelated");
    ASSERT_EQ(S_OK, Run(102, false));
    ASSERT_EQ(S_OK, Run(101, false));
    EXPECT_EQ((Lines{L"HKCR\\Unrelated"}), registry.Dump());
}

TEST_F(ProductScriptTest, KeysThatOthersAddedToStay) {
    ASSERT_EQ(S_OK, Run(102, true));
    registry.AddKey(L"HKCR\\VelnorIE.VelnorIEExt\\ShellEx");
    // A category of someone else's beside the product's own.
    const std::wstring stranger = L"HKCR\\CLSID\\" + kClsid + L"\\Implemented Categories\\{0DE86A53-2BAA-11CF-A229-00AA003D7352}";
    registry.AddKey(stranger);
    ASSERT_EQ(S_OK, Run(102, false));
    // Keys with a stranger's subkey stay, with their values; everything else goes.
    EXPECT_EQ(Sorted({L"HKCR\\CLSID", L"HKCR\\CLSID\\" + kClsid, L"HKCR\\CLSID\\" + kClsid + L" : (default) = REG_SZ Zorvanti",
                      L"HKCR\\CLSID\\" + kClsid + L"\\Implemented Categories", stranger, L"HKCR\\VelnorIE.VelnorIEExt",
                      L"HKCR\\VelnorIE.VelnorIEExt : (default) = REG_SZ Zorvanti", L"HKCR\\VelnorIE.VelnorIEExt\\ShellEx"}),
              registry.Dump());
}

TEST_F(ProductScriptTest, PerUserModeRedirectsClassRootsOnly) {
    g_perUserRegistration = true;
    ASSERT_EQ(S_OK, Run(101, true));
    ASSERT_EQ(S_OK, Run(102, true));
    Lines expected = Join(ModuleScriptRows(L"HKCU\\Software\\Classes"), ClassScriptRows(L"HKCU\\Software\\Classes"));
    expected.push_back(L"HKCU\\Software");
    expected.push_back(L"HKCU\\Software\\Classes");
    EXPECT_EQ(Sorted(expected), registry.Dump());
    ASSERT_EQ(S_OK, Run(102, false));
    ASSERT_EQ(S_OK, Run(101, false));
    EXPECT_FALSE(registry.HasKey(L"HKCU\\Software\\Classes\\CLSID\\" + kClsid));
    EXPECT_FALSE(registry.HasKey(kBho + L"\\" + kClsid));
}

TEST_F(ProductScriptTest, RegisterModuleKeepsEarlierScriptsWhenALaterOneFailsAndRestoresTheLocale) {
    registry.AddKey(L"HKCR\\CLSID");
    registry.deniedKeys.insert(L"HKCR\\CLSID");
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(SetThreadLocale(german));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), RegisterModule(true));
    EXPECT_EQ(german, GetThreadLocale());
    // No rollback across scripts: the module script's rows stay.
    EXPECT_TRUE(registry.HasKey(kBho + L"\\" + kClsid));
    EXPECT_TRUE(registry.HasKey(L"HKCR\\AppID\\" + kAppId));
    // The class script's own failing root block is undone.
    EXPECT_FALSE(registry.HasKey(L"HKCR\\VelnorIE.VelnorIEExt.1"));
    UnregisterModule(true);
    EXPECT_EQ(german, GetThreadLocale()) << "restored on every path";
    SetThreadLocale(LOCALE_SYSTEM_DEFAULT);
}

// ---- the script language, through the parser directly ----

class ScriptTest : public testing::Test {
protected:
    HRESULT Run(const std::wstring& script, bool doRegister = true, bool perUser = false) {
        CRegScriptParser parser(registrar, registry, perUser);
        return parser.RunScript(script.c_str(), doRegister);
    }
    HRESULT Expand(const std::wstring& script, std::wstring* out, bool perUser = false) {
        CRegScriptParser parser(registrar, registry, perUser);
        return parser.ExpandScript(script.c_str(), out);
    }
    void TearDown() override { EXPECT_EQ(0u, registry.OpenHandles()); }
    CRegObject registrar;
    MemoryRegistry registry;
};

TEST_F(ScriptTest, VariablesAreReplacedInAndOutOfQuotes) {
    registrar.AddVariable(L"Module", L"C:\\x.dll");
    registrar.AddVariable(L"Twice", L"first");
    registrar.AddVariable(L"twice", L"second");
    std::wstring out;
    ASSERT_EQ(S_OK, Expand(L"a %% b '%module%' %TWICE%", &out));
    EXPECT_EQ(L"a % b 'C:\\x.dll' first", out);
    EXPECT_EQ(DISP_E_EXCEPTION, Expand(L"%Nobody%", &out));
    EXPECT_EQ(DISP_E_EXCEPTION, Expand(L"100% sure", &out));
    registrar.AddVariable(std::wstring(31, L'v').c_str(), L"ok");
    EXPECT_EQ(S_OK, Expand(L"%" + std::wstring(31, L'v') + L"%", &out));
    EXPECT_EQ(E_FAIL, Expand(L"%" + std::wstring(32, L'v') + L"%", &out));
    EXPECT_EQ(S_OK, Expand(L"", &out));
    EXPECT_EQ(L"", out);
    EXPECT_EQ(E_POINTER, Expand(L"x", nullptr));
    CRegScriptParser parser(registrar, registry, false);
    EXPECT_EQ(E_POINTER, parser.ExpandScript(nullptr, &out));
}

TEST_F(ScriptTest, PerUserModeWrapsEachClassRootBlock) {
    std::wstring out;
    ASSERT_EQ(S_OK, Expand(L"HKCR { a { 'b}' } }\r\nHKLM { c }", &out, true));
    EXPECT_EQ(L"HKCU\r\n{\tSoftware\r\n\t{\r\n\t\tClasses { a { 'b}' } \r\n\t}\r\n}\r\n}\r\nHKLM { c }", out);
}

TEST_F(ScriptTest, ValueTypesWriteTheirData) {
    ASSERT_EQ(S_OK, Run(L"HKCU { k { val s = s 'text' val d = d '1' val dd = D '4294967295' "
                        L"val m = m 'one\\0two' val b = b '0aFF' val z = b 'zz' val e = b '' } }"));
    EXPECT_EQ(Sorted({L"HKCU\\k", L"HKCU\\k : s = REG_SZ text", L"HKCU\\k : d = REG_DWORD 1",
                      L"HKCU\\k : dd = REG_DWORD 4294967295", L"HKCU\\k : m = REG_MULTI_SZone|two||",
                      L"HKCU\\k : b = REG_BINARY 0A FF", L"HKCU\\k : z = REG_BINARY 00", L"HKCU\\k : e = REG_BINARY"}),
              registry.Dump());
    EXPECT_EQ(E_FAIL, Run(L"HKCU { k { val odd = b 'abc' } }"));
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKCU { k { val q = q 'x' } }"));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Run(L"HKCU { k { val n = d 'many' } }"));
}

TEST_F(ScriptTest, QuotedTokensTakeBlanksBracesAndDoubledQuotes) {
    ASSERT_EQ(S_OK, Run(L"HKCU { 'it''s { a key }' = s 'O''Brien' }"));
    EXPECT_EQ(Sorted({L"HKCU\\it's { a key }", L"HKCU\\it's { a key } : (default) = REG_SZ O'Brien"}), registry.Dump());
}

TEST_F(ScriptTest, TokensUpTo4094CharactersAndNoMore) {
    const std::wstring longest(4094, L'v');
    ASSERT_EQ(S_OK, Run(L"HKCU { k = s '" + longest + L"' }"));
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKCU { k = s '" + longest + L"v' }"));
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKCU { k = s " + longest + L"v }"));
}

TEST_F(ScriptTest, SyntaxErrorsFailTheScript) {
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKXX { }"));
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKCU k"));
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKCU { k { val v s 'x' } }"));
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKCU { k = s 'unterminated }"));
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKCU { k {"));
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKCU { a\\b }"));
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKCU { ForceRemove a\\b }"));
    EXPECT_EQ(S_OK, Run(L"  \r\n"));
}

TEST_F(ScriptTest, FailingRootBlockIsUndoneAndEarlierBlocksStay) {
    EXPECT_EQ(DISP_E_EXCEPTION, Run(L"HKCU { first = s '1' }\r\nHKLM { second = s '2' third { val v = q 'bad' } }"));
    EXPECT_EQ(Sorted({L"HKCU\\first", L"HKCU\\first : (default) = REG_SZ 1"}), registry.Dump());
}

TEST_F(ScriptTest, ForceRemoveAndDeleteSpareProtectedKeys) {
    registry.AddKey(L"HKCU\\CLSID\\keep");
    registry.AddKey(L"HKCU\\gone\\child\\grandchild");
    registry.AddKey(L"HKCU\\dropped\\child");
    ASSERT_EQ(S_OK, Run(L"HKCU { ForceRemove CLSID ForceRemove gone = s 'fresh' Delete dropped Delete absent }"));
    EXPECT_EQ(Sorted({L"HKCU\\CLSID", L"HKCU\\CLSID\\keep", L"HKCU\\gone", L"HKCU\\gone : (default) = REG_SZ fresh"}),
              registry.Dump());
    EXPECT_TRUE(CRegScriptParser::IsProtectedKey(L"software"));
    EXPECT_TRUE(CRegScriptParser::IsProtectedKey(L"Component Categories"));
    EXPECT_FALSE(CRegScriptParser::IsProtectedKey(L"Classes"));
}

TEST_F(ScriptTest, NoRemoveValuesAndKeysSurviveUnregistration) {
    ASSERT_EQ(S_OK, Run(L"HKCU { NoRemove kept { val a = s '1' NoRemove val b = s '2' sub } }"));
    ASSERT_EQ(S_OK, Run(L"HKCU { NoRemove kept { val a = s '1' NoRemove val b = s '2' sub } }", false));
    EXPECT_EQ(Sorted({L"HKCU\\kept", L"HKCU\\kept : b = REG_SZ 2"}), registry.Dump());
}

TEST_F(ScriptTest, UnregistrationStopsAtTheFirstRegistryFailure) {
    ASSERT_EQ(S_OK, Run(L"HKCU { a { b } }\r\nHKLM { c }"));
    registry.deniedKeys.insert(L"HKCU\\a");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), Run(L"HKCU { a { b } }\r\nHKLM { c }", false));
    EXPECT_TRUE(registry.HasKey(L"HKLM\\c")) << "later root blocks are not processed";
}

TEST_F(ScriptTest, RegistryFailuresBecomeHresults) {
    registry.deniedKeys.insert(L"HKCU");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), Run(L"HKCU { k }"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), Run(L"HKLM { " + std::wstring(256, L'n') + L" }"));
}

TEST_F(ScriptTest, NestingBeyondTheRegistryDepthIsRefusedWithoutExhaustingTheStack) {
    std::wstring deep = L"HKCU { ";
    for (int i = 0; i < 100000; ++i) deep += L"k { ";
    EXPECT_EQ(DISP_E_EXCEPTION, Run(deep, false));
    EXPECT_EQ(DISP_E_EXCEPTION, Run(deep, true));
}

// ---- robustness ----

bool IsExpectedResult(HRESULT hr) {
    return hr == S_OK || hr == DISP_E_EXCEPTION || hr == E_FAIL || hr == E_OUTOFMEMORY || hr == DISP_E_TYPEMISMATCH ||
           hr == DISP_E_OVERFLOW || HRESULT_FACILITY(hr) == FACILITY_WIN32;
}

std::wstring Mutate(std::mt19937& random, std::wstring script) {
    const wchar_t alphabet[] = L"{}'=%\\ \r\n\tabSDMBvalNoRemoveForceRemoveDelete0123456789HKCR";
    const int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits && !script.empty(); ++e) {
        const size_t at = random() % script.size();
        switch (random() % 7) {
        case 0: script.erase(at, 1 + random() % 8); break;
        case 1: script.insert(at, 1, alphabet[random() % (ARRAYSIZE(alphabet) - 1)]); break;
        case 2: script[at] = static_cast<wchar_t>(random() % 0x80); break;
        case 3: script.resize(at); break;
        case 4: script.insert(at, std::wstring(4000 + random() % 200, L'x')); break;
        case 5: script.insert(at, L"%" + std::wstring(random() % 40, L'n') + L"%"); break;
        default: script.insert(at, std::wstring(1 + random() % 3, random() % 2 ? L'{' : L'\'')); break;
        }
    }
    return script;
}

std::wstring RandomScript(std::mt19937& random) {
    std::wstring script;
    const int length = static_cast<int>(random() % 300);
    for (int i = 0; i < length; ++i) script += static_cast<wchar_t>(1 + random() % 0xFFFE);
    return script;
}

TEST(ScriptRobustnessTest, GeneratedAndMutatedScriptsNeverCrashOrHang) {
    HMODULE self = GetModuleHandleW(nullptr);
    std::vector<std::wstring> seeds;
    for (UINT id : {101u, 102u}) {
        HRSRC resource = FindResourceW(self, MAKEINTRESOURCEW(id), L"REGISTRY");
        ASSERT_NE(nullptr, resource);
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(self, resource)));
        seeds.emplace_back(bytes, bytes + SizeofResource(self, resource));
    }
    seeds.push_back(L"HKCU { k { val a = s '1' val b = d '2' val c = m 'x\\0y' val d = b 'ab' } ForceRemove f Delete g }");

    std::mt19937 random(20261208);
    const ULONGLONG deadline = GetTickCount64() + 60000;
    int runs = 0;
    for (; runs < 20000 && GetTickCount64() < deadline; ++runs) {
        MemoryRegistry registry;
        CRegObject registrar;
        registrar.AddVariable(L"APPID", L"{2C9F4E6A-1B83-4D7E-8A05-F3B6D92E7C18}");
        registrar.AddVariable(L"Module", L"C:\\Program Files\\Zorvanti\\VelnorIEx32.dll");
        const std::wstring script = runs % 10 == 0 ? RandomScript(random) : Mutate(random, seeds[random() % seeds.size()]);
        for (bool perUser : {false, true}) {
            CRegScriptParser parser(registrar, registry, perUser);
            const HRESULT registered = parser.RunScript(script.c_str(), true);
            ASSERT_TRUE(IsExpectedResult(registered)) << std::hex << registered << " for " << testenv::Narrow(script);
            const HRESULT unregistered = parser.RunScript(script.c_str(), false);
            ASSERT_TRUE(IsExpectedResult(unregistered)) << std::hex << unregistered << " for " << testenv::Narrow(script);
        }
        ASSERT_EQ(0u, registry.OpenHandles());
    }
    EXPECT_GE(runs, 2000);
    printf("robustness: %d scripts\n", runs);
}

}  // namespace
