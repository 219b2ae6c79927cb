// IVelnorIEExt as page script reaches it: by name, through the type library's IDispatch.
#include "extension/extension_fixture.h"

using namespace exttest;

namespace {

std::wstring Text(const VARIANT& value) {
    return V_VT(&value) == VT_BSTR && V_BSTR(&value) ? std::wstring(V_BSTR(&value), SysStringLen(V_BSTR(&value)))
                                                     : std::wstring();
}

TEST(ScriptableInterfaceTest, TypeLibraryGivesTheDispatchIdentifiers) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    UINT count = 0;
    EXPECT_EQ(S_OK, object->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()));
    ASSERT_TRUE(info);
    // Callers that enumerate members get the dispinterface, with every member by name.
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    EXPECT_EQ(TKIND_DISPATCH, attributes->typekind);
    info->ReleaseTypeAttr(attributes);
    LPOLESTR templates[] = {const_cast<LPOLESTR>(L"Templates")};
    MEMBERID member = 0;
    EXPECT_EQ(S_OK, info->GetIDsOfNames(templates, 1, &member));
    EXPECT_EQ(3, member);
    EXPECT_EQ(DISP_E_BADINDEX, object->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.put()));

    const std::pair<const wchar_t*, DISPID> members[] = {{L"Status", 1},    {L"TestCall", 2},
                                                         {L"Templates", 3}, {L"GetElementByXPath", 4},
                                                         {L"AuthCreds", 5}, {L"DebugTime", 6}};
    for (const auto& member : members) EXPECT_EQ(member.second, DispIdOf(object.get(), member.first));
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, object->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id));
}

TEST(ScriptableInterfaceTest, EveryMemberAnswersByName) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    IDispatch* script = object.get();
    testenv::LogCapture log;

    unique_variant result;
    host::Value written(L"anything");
    EXPECT_EQ(S_OK, PutByName(script, L"Status", *written.get()));
    EXPECT_EQ(S_OK, GetByName(script, L"Status", result.put()));
    EXPECT_EQ(L"ready", Text(*result.get())) << "whatever was written";

    // No display here: the message box returns at once.
    EXPECT_EQ(S_OK, CallByName(script, L"TestCall", {}, result.put()));

    host::Value templates(L"[{\"url\":\"http://a/*\",\"elements\":[]}]");
    EXPECT_EQ(S_OK, PutByName(script, L"Templates", *templates.get()));
    EXPECT_EQ(S_OK, GetByName(script, L"Templates", result.put()));
    EXPECT_EQ(templates.text(), Text(*result.get()));

    host::Value credentials(L"http://a/*\ruser\rsecret");
    EXPECT_EQ(S_OK, PutByName(script, L"AuthCreds", *credentials.get()));
    EXPECT_EQ(S_OK, GetByName(script, L"AuthCreds", result.put()));
    EXPECT_EQ(L"", Text(*result.get())) << "handed-over credentials never come back";
    EXPECT_EQ(credentials.text(), Impl(object)->AuthCreds());

    host::Value seconds(0L);
    EXPECT_EQ(S_OK, PutByName(script, L"DebugTime", *seconds.get()));
    EXPECT_EQ(S_OK, GetByName(script, L"DebugTime", result.put()));
    EXPECT_EQ(VT_I4, V_VT(result.get()));
    EXPECT_EQ(0, V_I4(result.get()));

    // No browser: nothing to find, and no failure.
    host::Value expression(L"//input");
    EXPECT_EQ(S_OK, CallByName(script, L"GetElementByXPath", {*expression.get()}, result.put()));
    EXPECT_TRUE(V_VT(result.get()) == VT_DISPATCH && V_DISPATCH(result.get()) == nullptr);

    const auto messages = log.Messages();
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::AddExternalObject() -> put_Status"));
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::AddExternalObject() -> get_Status"));
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::put_AuthCreds()"));
    EXPECT_EQ(1u, Count(messages, "CVelnorIEExt::get_AuthCreds()"));
    for (const auto& line : messages) EXPECT_EQ(std::string::npos, line.find("secret")) << line;
}

TEST(ScriptableInterfaceTest, ArgumentsThatDoNotConvertGetStandardDispatchErrors) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    unique_variant result;
    DISPPARAMS none = {};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, object->Invoke(99, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                                    result.put(), nullptr, nullptr));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, CallByName(object.get(), L"GetElementByXPath", {}, result.put()));
    host::Value notANumber(L"many");
    EXPECT_EQ(DISP_E_TYPEMISMATCH, PutByName(object.get(), L"DebugTime", *notANumber.get()));
}

TEST(ScriptableInterfaceTest, AuthCredsKeepsOnlyTheLastText) {
    ComPtr<IVelnorIEExt> object = CreateExtension();
    unique_bstr first(SysAllocString(L"a\rb\rc")), second(SysAllocString(L"d\re\rf"));
    EXPECT_EQ(S_OK, object->put_AuthCreds(first.get()));
    EXPECT_EQ(S_OK, object->put_AuthCreds(second.get()));
    EXPECT_EQ(L"d\re\rf", Impl(object)->AuthCreds());
    EXPECT_EQ(S_OK, object->put_AuthCreds(nullptr));
    EXPECT_EQ(L"", Impl(object)->AuthCreds());
    BSTR out = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(S_OK, object->get_AuthCreds(&out));
    EXPECT_EQ(nullptr, out);
}

}  // namespace
