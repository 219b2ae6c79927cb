// The built DLL as COM and the installer's tools see it: its class object and exports loaded
// in process, registration through Wine's regsvr32, and a separate program creating the class.
#include "common/com_ptr.h"
#include "common/unique_owner.h"
#include "server/identity.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include "VelnorIELib.h"

using namespace testenv;

namespace {

const std::wstring kClsid = L"{5D3A8C21-7E4B-4F19-A6D2-3B9E0C7F1A54}";
const std::wstring kAppId = L"{2C9F4E6A-1B83-4D7E-8A05-F3B6D92E7C18}";
const std::wstring kLibId = L"{8B6E2F07-C3D1-4A5E-9F28-6D0A4B7C3E91}";
const std::wstring kBhoKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\{5D3A8C21-7E4B-4F19-A6D2-3B9E0C7F1A54}";

std::wstring DllPath() { return BinFolder() + VELNOR_DLL_NAME; }

// This build's registry view, and the other one.
REGSAM OwnView() { return Is64BitProcess() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }
REGSAM OtherView() { return Is64BitProcess() ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0) {
    unique_hkey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

struct RegValue {
    bool found = false;
    DWORD type = 0;
    std::wstring text;
    DWORD number = 0;
};

RegValue Read(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0) {
    RegValue value;
    unique_hkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return value;
    BYTE data[2048] = {};
    DWORD size = sizeof(data) - 2;
    if (RegQueryValueExW(key.get(), name, nullptr, &value.type, data, &size) != ERROR_SUCCESS) return value;
    value.found = true;
    if (value.type == REG_SZ) value.text = reinterpret_cast<const wchar_t*>(data);
    if (value.type == REG_DWORD) memcpy(&value.number, data, 4);
    return value;
}

void ExpectString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& expected) {
    const RegValue value = Read(root, path, name);
    EXPECT_TRUE(value.found) << Narrow(path) << " : " << (name ? Narrow(name) : "(default)");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type) << Narrow(path);
    EXPECT_EQ(expected, value.text) << Narrow(path);
}

int Regsvr32(const std::wstring& arguments) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return RunProgram(std::wstring(system) + L"\\regsvr32.exe", arguments, 120000);
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

void ExpectClassRows(HKEY root, const std::wstring& classes, const std::wstring& dllPath) {
    const std::wstring key = classes + L"CLSID\\" + kClsid;
    ExpectString(root, classes + L"AppID\\" + kAppId, nullptr, L"VelnorIE");
    ExpectString(root, classes + L"AppID\\VelnorIE.DLL", L"AppID", kAppId);
    ExpectString(root, classes + L"VelnorIE.VelnorIEExt.1", nullptr, L"Zorvanti");
    ExpectString(root, classes + L"VelnorIE.VelnorIEExt.1\\CLSID", nullptr, kClsid);
    ExpectString(root, classes + L"VelnorIE.VelnorIEExt", nullptr, L"Zorvanti");
    ExpectString(root, classes + L"VelnorIE.VelnorIEExt\\CLSID", nullptr, kClsid);
    ExpectString(root, classes + L"VelnorIE.VelnorIEExt\\CurVer", nullptr, L"VelnorIE.VelnorIEExt.1");
    ExpectString(root, key, nullptr, L"Zorvanti");
    ExpectString(root, key + L"\\ProgID", nullptr, L"VelnorIE.VelnorIEExt.1");
    ExpectString(root, key + L"\\VersionIndependentProgID", nullptr, L"VelnorIE.VelnorIEExt");
    EXPECT_TRUE(KeyExists(root, key + L"\\Programmable"));
    ExpectString(root, key + L"\\InprocServer32", nullptr, dllPath);
    ExpectString(root, key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    ExpectString(root, key + L"\\TypeLib", nullptr, kLibId);
}

const std::wstring kAppContainerCategory =
    L"\\Implemented Categories\\{59FB2056-D625-48D0-A944-1A85B5AB2640}";

// The category Enhanced Protected Mode looks for, under the class key of this build's view only.
void ExpectAppContainerCategoryInOwnViewOnly() {
    const std::wstring key = L"Software\\Classes\\CLSID\\" + kClsid + kAppContainerCategory;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key, OwnView())) << Narrow(key);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, OtherView())) << "the other build's view stays untouched";
}

void ExpectBrowserHelperObjectInOwnViewOnly() {
    const RegValue name = Read(HKEY_LOCAL_MACHINE, kBhoKey, nullptr, OwnView());
    EXPECT_TRUE(name.found);
    EXPECT_EQ(L"VelnorIEExt", name.text);
    const RegValue noExplorer = Read(HKEY_LOCAL_MACHINE, kBhoKey, L"NoExplorer", OwnView());
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), noExplorer.type);
    EXPECT_EQ(1u, noExplorer.number);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kBhoKey, OtherView())) << "the other build's view stays untouched";
}

class RegistrationTest : public testing::Test {
protected:
    void TearDown() override {
        Regsvr32(L"/s /u " + Quoted(DllPath()));
        Regsvr32(L"/s /u /n /i:user " + Quoted(DllPath()));
    }
};

TEST_F(RegistrationTest, Regsvr32WritesEveryRowAndTheTypeLibrary) {
    ASSERT_EQ(0, Regsvr32(L"/s " + Quoted(DllPath())));
    ExpectClassRows(HKEY_CLASSES_ROOT, L"", DllPath());
    ExpectAppContainerCategoryInOwnViewOnly();
    ExpectBrowserHelperObjectInOwnViewOnly();
    const std::wstring platform = Is64BitProcess() ? L"win64" : L"win32";
    ExpectString(HKEY_CLASSES_ROOT, L"TypeLib\\" + kLibId + L"\\1.0\\409\\" + platform, nullptr, DllPath());
    ExpectString(HKEY_CLASSES_ROOT, L"TypeLib\\" + kLibId + L"\\1.0", nullptr, L"VelnorIE 1.0 Type Library");

    // A program of its own creates the class through COM and drives it by name.
    EXPECT_EQ(0, RunProgram(L"com_client.exe", L""));
    EXPECT_EQ(0, RunProgram(L"com_client.exe", L"VelnorIE.VelnorIEExt"));
}

TEST_F(RegistrationTest, Regsvr32UnregisterLeavesOnlyTheNoRemoveKeys) {
    ASSERT_EQ(0, Regsvr32(L"/s " + Quoted(DllPath())));
    ASSERT_EQ(0, Regsvr32(L"/s /u " + Quoted(DllPath())));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + kClsid + kAppContainerCategory, OwnView()));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"VelnorIE.VelnorIEExt"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"VelnorIE.VelnorIEExt.1"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID\\" + kAppId));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID\\VelnorIE.DLL"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + kLibId));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kBhoKey, OwnView()));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE,
                          L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects", OwnView()));
    EXPECT_NE(0, RunProgram(L"com_client.exe", L""));
}

TEST_F(RegistrationTest, PerUserRegistrationWritesTheClassesOfTheUser) {
    ASSERT_EQ(0, Regsvr32(L"/s /n /i:user " + Quoted(DllPath())));
    ExpectClassRows(HKEY_CURRENT_USER, L"Software\\Classes\\", DllPath());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\" + kClsid + kAppContainerCategory));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + kClsid, OwnView()));
    ExpectBrowserHelperObjectInOwnViewOnly();
    ASSERT_EQ(0, Regsvr32(L"/s /u /n /i:user " + Quoted(DllPath())));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\" + kClsid));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kBhoKey, OwnView()));
}

TEST_F(RegistrationTest, DllInstallSwitchesToPerUserOnlyForTheWordUser) {
    const std::wstring dll = Quoted(DllPath());
    const std::wstring perUserKey = L"Software\\Classes\\CLSID\\" + kClsid;
    const std::wstring machineKey = L"Software\\Classes\\CLSID\\" + kClsid;
    struct Case {
        const wchar_t* text;
        bool perUser;
    };
    for (const Case& c : {Case{L"User", true}, Case{L"USER", true}, Case{L"user ", false}, Case{L"users", false},
                          Case{L"(null)", false}}) {
        SCOPED_TRACE(Narrow(c.text));
        ASSERT_EQ(0, RunProgram(L"dll_driver.exe", dll + L" \"install:" + c.text + L"\""));
        EXPECT_EQ(c.perUser, KeyExists(HKEY_CURRENT_USER, perUserKey));
        EXPECT_EQ(!c.perUser, KeyExists(HKEY_LOCAL_MACHINE, machineKey, OwnView()));
        ASSERT_EQ(0, RunProgram(L"dll_driver.exe", dll + L" \"uninstall:" + c.text + L"\""));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, perUserKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, machineKey, OwnView()));
    }
    // The switch never clears: a later DllRegisterServer in the same process also works per user.
    ASSERT_EQ(0, RunProgram(L"dll_driver.exe", dll + L" install:user \"install:(null)\" register"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, perUserKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, machineKey, OwnView()));
    ASSERT_EQ(0, RunProgram(L"dll_driver.exe", dll + L" install:user unregister"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, perUserKey));
}

// Copies the DLL to a path of exactly `length` characters.
std::wstring CopyToPathOfLength(size_t length) {
    std::wstring folder = FreshFolder(L"long");
    const std::wstring name = L"\\" + std::wstring(VELNOR_DLL_NAME);
    while (folder.size() + name.size() < length) {
        const size_t room = length - folder.size() - name.size();
        const size_t part = std::min<size_t>(room > 1 ? room - 1 : 1, 100);
        folder += L"\\" + std::wstring(part, L'd');
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    const std::wstring path = folder + name;
    EXPECT_EQ(length, path.size());
    EXPECT_TRUE(CopyFileW(DllPath().c_str(), path.c_str(), FALSE));
    return path;
}

TEST_F(RegistrationTest, ModulePathMustFitItsBuffer) {
    const std::wstring fits = CopyToPathOfLength(259);
    EXPECT_EQ(0, RunProgram(L"dll_driver.exe", Quoted(fits) + L" register"));
    ExpectString(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid + L"\\InprocServer32", nullptr, fits);
    EXPECT_EQ(0, RunProgram(L"dll_driver.exe", Quoted(fits) + L" unregister"));

    const std::wstring tooLong = CopyToPathOfLength(260);
    // DllInstall's failed registration runs the unregistration and still returns the first code.
    EXPECT_EQ(static_cast<int>(0x8007007A), RunProgram(L"dll_driver.exe", Quoted(tooLong) + L" register"));
    EXPECT_EQ(static_cast<int>(0x8007007A), RunProgram(L"dll_driver.exe", Quoted(tooLong) + L" install:(null)"));
}

TEST_F(RegistrationTest, TypeLibraryComesFromTheResourceOrTheFileBeside) {
    // A build of the DLL without its "TYPELIB" resource, alone in a folder.
    const std::wstring folder = FreshFolder(L"no-typelib");
    const std::wstring copy = folder + L"\\" + VELNOR_DLL_NAME;
    ASSERT_TRUE(CopyFileW((BinFolder() + L"VelnorIE_notypelib.dll").c_str(), copy.c_str(), FALSE));

    const int failed = RunProgram(L"dll_driver.exe", Quoted(copy) + L" register");
    EXPECT_LT(failed, 0) << "the loader's failure code";
    // Both scripts ran before the type library failed; nothing was undone.
    ExpectString(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid + L"\\InprocServer32", nullptr, copy);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kBhoKey, OwnView()));
    EXPECT_EQ(failed, RunProgram(L"dll_driver.exe", Quoted(copy) + L" unregister"));

    // With the library file beside it, named like the DLL.
    std::wstring tlb = copy;
    tlb.replace(tlb.rfind(L'.'), std::wstring::npos, L".tlb");
    ASSERT_TRUE(CopyFileW((BinFolder() + L"VelnorIELib.tlb").c_str(), tlb.c_str(), FALSE));
    EXPECT_EQ(0, RunProgram(L"dll_driver.exe", Quoted(copy) + L" register"));
    const std::wstring platform = Is64BitProcess() ? L"win64" : L"win32";
    ExpectString(HKEY_CLASSES_ROOT, L"TypeLib\\" + kLibId + L"\\1.0\\409\\" + platform, nullptr, tlb);
    EXPECT_EQ(0, RunProgram(L"dll_driver.exe", Quoted(copy) + L" unregister"));
}

// ---- the class object and the lock count, in process ----

class ClassObjectTest : public testing::Test {
protected:
    void SetUp() override {
        dll.reset(LoadLibraryW(DllPath().c_str()));
        ASSERT_TRUE(dll);
        getClassObject = reinterpret_cast<decltype(getClassObject)>(
            reinterpret_cast<void*>(GetProcAddress(dll.get(), "DllGetClassObject")));
        canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(
            reinterpret_cast<void*>(GetProcAddress(dll.get(), "DllCanUnloadNow")));
        ASSERT_TRUE(getClassObject && canUnloadNow);
    }
    ComPtr<IClassFactory> Factory() {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, getClassObject(CLSID_VelnorIEExt, IID_IClassFactory, factory.put_void()));
        return factory;
    }

    unique_hmodule dll;
    HRESULT(WINAPI* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* canUnloadNow)() = nullptr;
};

TEST_F(ClassObjectTest, OneCachedClassObjectThatLocksOnlyForCallers) {
    EXPECT_EQ(S_OK, canUnloadNow());
    {
        ComPtr<IClassFactory> first = Factory();
        ComPtr<IClassFactory> second = Factory();
        EXPECT_EQ(first.get(), second.get());
        EXPECT_EQ(S_FALSE, canUnloadNow());
        ComPtr<IUnknown> unknown;
        EXPECT_EQ(S_OK, getClassObject(CLSID_VelnorIEExt, IID_IUnknown, unknown.put_void()));
        EXPECT_EQ(static_cast<void*>(first.get()), static_cast<void*>(unknown.get()));
    }
    EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(ClassObjectTest, OtherClassesAndBadArgumentsAreRefused) {
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID_IUnknown, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, getClassObject(CLSID_VelnorIEExt, IID_IClassFactory, nullptr));
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(E_NOINTERFACE, getClassObject(CLSID_VelnorIEExt, IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(ClassObjectTest, InstancesAndLockServerKeepTheModule) {
    ComPtr<IClassFactory> factory = Factory();
    factory->AddRef();
    factory.reset();
    IClassFactory* held = nullptr;
    ASSERT_EQ(S_OK, getClassObject(CLSID_VelnorIEExt, IID_IClassFactory, reinterpret_cast<void**>(&held)));
    held->Release();
    held->Release();
    EXPECT_EQ(S_OK, canUnloadNow());

    factory = Factory();
    ComPtr<IDispatch> object;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch, object.put_void()));
    factory.reset();
    EXPECT_EQ(S_FALSE, canUnloadNow()) << "a live extension object";
    // It is the extension object, driven by name.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Status")};
    DISPID id = 0;
    EXPECT_EQ(S_OK, object->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    EXPECT_EQ(1, id);
    object.reset();
    EXPECT_EQ(S_OK, canUnloadNow());

    factory = Factory();
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory.reset();
    EXPECT_EQ(S_FALSE, canUnloadNow());
    Factory()->LockServer(FALSE);
    EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(ClassObjectTest, CreateInstanceRefusesAggregation) {
    ComPtr<IClassFactory> factory = Factory();
    ComPtr<IClassFactory> outer = Factory();
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.get(), IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.get(), IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &out));
}

TEST(ModuleLoadTest, AFailedLoadSequenceRefusesTheLoad) {
    unique_hmodule failing(LoadLibraryW((BinFolder() + L"VelnorIE_csfail.dll").c_str()));
    EXPECT_FALSE(failing);
    unique_hmodule dll(LoadLibraryW(DllPath().c_str()));
    EXPECT_TRUE(dll);
}

}  // namespace
