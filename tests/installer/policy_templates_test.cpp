// The Group Policy templates (installer/policy) as Group Policy reads them and as the product
// reads what they write: both files through MSXML, their structure and every reference; then each
// policy enabled, disabled and not configured, written into Wine's registry as Group Policy's
// registry extension writes it, and read back by the settings readers and the built store tool.
#include "common/com_ptr.h"
#include "common/product_version.h"
#include "common/unique_owner.h"
#include "logging/settings.h"
#include "storetool/agent_policy.h"
#include "support/test_environment.h"
#include "xpath/page_mirror.h"

#include <gtest/gtest.h>

#include <msxml2.h>

#include <functional>
#include <map>
#include <set>

using namespace testenv;

extern "C" const IID IID_IXMLDOMDocument2;

namespace {

const wchar_t kNamespace[] = L"http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions";
const wchar_t kExplorerRunPolicy[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";

using Node = ComPtr<IXMLDOMNode>;

ComPtr<IXMLDOMDocument> LoadXml(const char* relative) {
    ComPtr<IXMLDOMDocument> document;
    EXPECT_HRESULT_SUCCEEDED(
        CoCreateInstance(kMsxmlDomDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument, document.put_void()));
    if (!document) return document;
    document->put_async(VARIANT_FALSE);
    unique_variant path;
    V_VT(path.get()) = VT_BSTR;
    V_BSTR(path.get()) = SysAllocString((L"Z:" + Widen(std::string(VELNOR_SOURCE_DIR) + relative)).c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    EXPECT_HRESULT_SUCCEEDED(document->load(*path.get(), &loaded));
    EXPECT_EQ(VARIANT_TRUE, loaded) << relative << " is not well-formed XML";
    ComPtr<IXMLDOMDocument2> document2;
    if (SUCCEEDED(document.As(IID_IXMLDOMDocument2, &document2))) {
        unique_variant language, namespaces;
        V_VT(language.get()) = VT_BSTR;
        V_BSTR(language.get()) = SysAllocString(L"XPath");
        V_VT(namespaces.get()) = VT_BSTR;
        V_BSTR(namespaces.get()) = SysAllocString((std::wstring(L"xmlns:p='") + kNamespace + L"'").c_str());
        unique_bstr languageName(SysAllocString(L"SelectionLanguage")), namespacesName(SysAllocString(L"SelectionNamespaces"));
        document2->setProperty(languageName.get(), *language.get());
        document2->setProperty(namespacesName.get(), *namespaces.get());
    }
    return document;
}

template <typename Context>
std::vector<Node> Select(const Context& context, const wchar_t* xpath) {
    std::vector<Node> nodes;
    ComPtr<IXMLDOMNodeList> list;
    unique_bstr query(SysAllocString(xpath));
    if (FAILED(context->selectNodes(query.get(), list.put())) || !list) return nodes;
    for (;;) {
        Node node;
        if (list->nextNode(node.put()) != S_OK || !node) break;
        nodes.push_back(std::move(node));
    }
    return nodes;
}

template <typename Context>
std::wstring Text(const Context& context, const wchar_t* xpath) {
    std::vector<Node> nodes = Select(context, xpath);
    if (nodes.empty()) return std::wstring();
    unique_bstr text;
    nodes[0]->get_text(text.put());
    return text.get() ? std::wstring(text.get()) : std::wstring();
}

template <typename Context>
bool Has(const Context& context, const wchar_t* xpath) {
    return !Select(context, xpath).empty();
}

// "$(string.X)" -> X, for the given kind; empty when the text is no such reference.
std::wstring Reference(const std::wstring& text, const std::wstring& kind) {
    const std::wstring open = L"$(" + kind + L".";
    if (text.compare(0, open.size(), open) != 0 || text.back() != L')') return std::wstring();
    return text.substr(open.size(), text.size() - open.size() - 1);
}

TEST(PolicyTemplatesTest, TemplatesHaveTheAdmxStructureAndEveryReferenceResolves) {
    ComPtr<IXMLDOMDocument> admx = LoadXml("/installer/policy/VelnorIE.admx");
    ComPtr<IXMLDOMDocument> adml = LoadXml("/installer/policy/en-US/VelnorIE.adml");
    ASSERT_TRUE(admx && adml);
    // The roots in the policy definitions' namespace, with the attributes Group Policy requires.
    ASSERT_TRUE(Has(admx, L"/p:policyDefinitions[@revision and @schemaVersion]"));
    ASSERT_TRUE(Has(adml, L"/p:policyDefinitionResources[@revision and @schemaVersion]"));
    EXPECT_TRUE(Has(admx, L"/p:policyDefinitions/p:policyNamespaces/p:target[@prefix and @namespace]"));
    EXPECT_TRUE(Has(admx, L"/p:policyDefinitions/p:resources[@minRequiredRevision]"));
    EXPECT_TRUE(Has(adml, L"/p:policyDefinitionResources/p:resources/p:stringTable"));

    std::set<std::wstring> strings, presentations, categories, supported;
    for (const Node& node : Select(adml, L"//p:stringTable/p:string")) strings.insert(Text(node, L"@id"));
    for (const Node& node : Select(adml, L"//p:presentationTable/p:presentation")) presentations.insert(Text(node, L"@id"));
    for (const Node& node : Select(admx, L"//p:categories/p:category")) categories.insert(Text(node, L"@name"));
    for (const Node& node : Select(admx, L"//p:supportedOn/p:definitions/p:definition")) supported.insert(Text(node, L"@name"));

    // Every string reference of the template, wherever it stands.
    for (const Node& attribute : Select(admx, L"//@displayName | //@explainText")) {
        unique_bstr value;
        attribute->get_text(value.put());
        const std::wstring id = Reference(value.get(), L"string");
        EXPECT_FALSE(id.empty()) << "not a string reference: " << Narrow(value.get());
        EXPECT_TRUE(strings.count(id)) << "no string " << Narrow(id);
    }
    for (const Node& ref : Select(admx, L"//p:parentCategory/@ref")) EXPECT_TRUE(categories.count(Text(ref, L".")));

    const std::vector<Node> policies = Select(admx, L"//p:policies/p:policy");
    ASSERT_FALSE(policies.empty());
    for (const Node& policy : policies) {
        const std::wstring name = Text(policy, L"@name");
        SCOPED_TRACE(Narrow(name));
        EXPECT_TRUE(supported.count(Text(policy, L"p:supportedOn/@ref")));
        EXPECT_TRUE(Has(policy, L"p:parentCategory"));
        const std::wstring policyClass = Text(policy, L"@class");
        EXPECT_TRUE(policyClass == L"Machine" || policyClass == L"User" || policyClass == L"Both");
        // Only under the policy trees, which Group Policy cleans up with the GPO.
        for (const Node& key : Select(policy, L"@key | .//@key")) {
            const std::wstring path = Text(key, L".");
            EXPECT_TRUE(_wcsnicmp(path.c_str(), L"SOFTWARE\\Policies\\", 18) == 0 ||
                        _wcsnicmp(path.c_str(), L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\", 51) == 0)
                << Narrow(path);
        }
        // Elements need a presentation, and every one of its controls an element of the policy.
        const std::vector<Node> elements = Select(policy, L"p:elements/*");
        const std::wstring presentation = Reference(Text(policy, L"@presentation"), L"presentation");
        if (elements.empty()) continue;
        ASSERT_TRUE(presentations.count(presentation)) << "no presentation " << Narrow(presentation);
        std::set<std::wstring> ids;
        for (const Node& element : elements) ids.insert(Text(element, L"@id"));
        const std::wstring controls = L"//p:presentation[@id='" + presentation + L"']/*[@refId]";
        std::set<std::wstring> shown;
        for (const Node& control : Select(adml, controls.c_str())) shown.insert(Text(control, L"@refId"));
        EXPECT_EQ(ids, shown);
    }
}

// Group Policy's registry extension, as far as these templates use it.
class PolicyApplier {
public:
    struct Input {
        std::wstring text;                // text, decimal
        std::vector<std::wstring> lines;  // multiText
        int item = 0;                     // enum
    };
    enum class State { Enabled, Disabled, NotConfigured };

    PolicyApplier(Node policy, HKEY root) : m_policy(std::move(policy)), m_root(root) {}

    void Apply(State state, const std::map<std::wstring, Input>& inputs = {}) {
        const std::wstring key = Text(m_policy, L"@key");
        const std::wstring valueName = Text(m_policy, L"@valueName");
        const std::vector<Node> elements = Select(m_policy, L"p:elements/*");
        // What the GPO wrote before goes first, as when the GPO changes or is removed.
        if (!valueName.empty()) Delete(key, valueName);
        for (const Node& element : elements) Delete(KeyOf(element, key), Text(element, L"@valueName"));
        for (const Node& item : Select(m_policy, L"p:enabledList/p:item | p:disabledList/p:item"))
            Delete(KeyOf(item, key), Text(item, L"@valueName"));
        if (state == State::NotConfigured) return;

        const bool enabled = state == State::Enabled;
        if (!valueName.empty()) {
            std::vector<Node> value = Select(m_policy, enabled ? L"p:enabledValue/*" : L"p:disabledValue/*");
            if (!value.empty()) Write(key, valueName, value[0]);
            else if (enabled) WriteDword(key, valueName, 1);
        }
        for (const Node& item : Select(m_policy, enabled ? L"p:enabledList/p:item" : L"p:disabledList/p:item"))
            Write(KeyOf(item, key), Text(item, L"@valueName"), Select(item, L"p:value/*")[0]);
        if (!enabled) return;
        for (const Node& element : elements) {
            const std::wstring id = Text(element, L"@id");
            ASSERT_TRUE(inputs.count(id)) << "no input for element " << Narrow(id);
            const Input& input = inputs.at(id);
            const std::wstring elementKey = KeyOf(element, key), name = Text(element, L"@valueName");
            unique_bstr kind;
            element->get_baseName(kind.put());
            const std::wstring type = kind.get();
            if (type == L"text") {
                WriteText(elementKey, name, Text(element, L"@expandable") == L"true" ? REG_EXPAND_SZ : REG_SZ, input.text);
            } else if (type == L"multiText") {
                std::wstring data;
                for (const std::wstring& line : input.lines) data += line + L'\0';
                data += L'\0';
                WriteText(elementKey, name, REG_MULTI_SZ, data, false);
            } else if (type == L"decimal") {
                WriteDword(elementKey, name, static_cast<DWORD>(std::stoul(input.text)));
            } else if (type == L"enum") {
                const std::vector<Node> items = Select(element, L"p:item");
                ASSERT_LT(static_cast<size_t>(input.item), items.size());
                Write(elementKey, name, Select(items[input.item], L"p:value/*")[0]);
            } else {
                ADD_FAILURE() << "element kind not applied here: " << Narrow(type);
            }
        }
    }

private:
    static std::wstring KeyOf(const Node& node, const std::wstring& policyKey) {
        const std::wstring own = Text(node, L"@key");
        return own.empty() ? policyKey : own;
    }
    unique_hkey Open(const std::wstring& key) {
        unique_hkey opened;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(m_root, key.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                                                 nullptr, opened.put(), nullptr));
        return opened;
    }
    void Delete(const std::wstring& key, const std::wstring& name) {
        unique_hkey opened;
        if (RegOpenKeyExW(m_root, key.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, opened.put()) == ERROR_SUCCESS)
            RegDeleteValueW(opened.get(), name.c_str());
    }
    void WriteDword(const std::wstring& key, const std::wstring& name, DWORD value) {
        RegSetValueExW(Open(key).get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    }
    void WriteText(const std::wstring& key, const std::wstring& name, DWORD type, const std::wstring& text,
                   bool terminate = true) {
        const DWORD bytes = static_cast<DWORD>((text.size() + (terminate ? 1 : 0)) * sizeof(wchar_t));
        RegSetValueExW(Open(key).get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    }
    // <decimal value="N"/>, <string>text</string> or <delete/>.
    void Write(const std::wstring& key, const std::wstring& name, const Node& value) {
        unique_bstr kind;
        value->get_baseName(kind.put());
        const std::wstring type = kind.get();
        if (type == L"decimal") WriteDword(key, name, static_cast<DWORD>(std::stoul(Text(value, L"@value"))));
        else if (type == L"string") WriteText(key, name, REG_SZ, Text(value, L"."));
        else if (type == L"delete") Delete(key, name);
        else ADD_FAILURE() << "value kind not applied here: " << Narrow(type);
    }

    Node m_policy;
    HKEY m_root;
};

void DeletePolicyTree(HKEY root) {
    unique_hkey policies;
    if (RegOpenKeyExW(root, L"SOFTWARE\\Policies", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, policies.put()) == ERROR_SUCCESS)
        RegDeleteTreeW(policies.get(), L"Zorvanti");
    unique_hkey run;
    if (RegOpenKeyExW(root, kExplorerRunPolicy, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, run.put()) == ERROR_SUCCESS)
        RegDeleteValueW(run.get(), kAgentRunValue);
}

class PolicyPrecedenceTest : public testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean() {
        DeletePolicyTree(HKEY_LOCAL_MACHINE);
        DeletePolicyTree(HKEY_CURRENT_USER);
        DeleteSetting(L"TemplateIsolation");
        DeleteSetting(L"TrustedPortals");
        SetLogLevelDword(4);
    }
    PolicyApplier Policy(const wchar_t* name, HKEY root = HKEY_LOCAL_MACHINE) {
        std::vector<Node> found = Select(m_admx, (std::wstring(L"//p:policy[@name='") + name + L"']").c_str());
        EXPECT_EQ(1u, found.size()) << Narrow(name);
        m_checked.insert(name);
        return PolicyApplier(found.empty() ? Node() : found[0], root);
    }
    static ProgramResult Tool(const std::wstring& arguments) { return RunProgramCaptured(L"VelnorSSOStore.exe", arguments); }
    static bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

    ComPtr<IXMLDOMDocument> m_admx = LoadXml("/installer/policy/VelnorIE.admx");
    std::set<std::wstring> m_checked;
};

using State = PolicyApplier::State;

TEST_F(PolicyPrecedenceTest, EveryPolicyEnabledDisabledAndNotConfiguredIsWhatTheProductReads) {
    SettingOrigin origin = SettingOrigin::Default;
    {
        SCOPED_TRACE("TemplateIsolation");
        PolicyApplier policy = Policy(L"TemplateIsolation");
        SetSettingDword(L"TemplateIsolation", 0);
        policy.Apply(State::Enabled);
        EXPECT_TRUE(ReadTemplateIsolationSetting(&origin));
        EXPECT_EQ(SettingOrigin::Policy, origin);
        SetSettingDword(L"TemplateIsolation", 1);
        policy.Apply(State::Disabled);
        EXPECT_FALSE(ReadTemplateIsolationSetting(&origin));
        EXPECT_EQ(SettingOrigin::Policy, origin);
        policy.Apply(State::NotConfigured);
        EXPECT_TRUE(ReadTemplateIsolationSetting(&origin));
        EXPECT_EQ(SettingOrigin::ProductKey, origin);
        DeleteSetting(L"TemplateIsolation");
        EXPECT_FALSE(ReadTemplateIsolationSetting(&origin));
        EXPECT_EQ(SettingOrigin::Default, origin);
    }
    {
        SCOPED_TRACE("TrustedPortals");
        PolicyApplier policy = Policy(L"TrustedPortals");
        const std::vector<std::wstring> own = {L"https://own.example.com/"};
        const std::vector<std::wstring> byPolicy = {L"https://sso.example.com/", L"https://portal.example.com/"};
        SetSettingMultiString(L"TrustedPortals", own);
        policy.Apply(State::Enabled, {{L"TrustedPortalsList", {L"", byPolicy}}});
        EXPECT_EQ(byPolicy, ReadTrustedPortalsSetting(&origin));
        EXPECT_EQ(SettingOrigin::Policy, origin);
        policy.Apply(State::Disabled);
        EXPECT_TRUE(ReadTrustedPortalsSetting(&origin).empty());
        EXPECT_EQ(SettingOrigin::Policy, origin);
        policy.Apply(State::NotConfigured);
        EXPECT_EQ(own, ReadTrustedPortalsSetting(&origin));
        EXPECT_EQ(SettingOrigin::ProductKey, origin);
    }
    {
        SCOPED_TRACE("LogLevel");
        PolicyApplier policy = Policy(L"LogLevel");
        policy.Apply(State::Enabled, {{L"LogLevelChoice", {L"", {}, 1}}});
        EXPECT_EQ(2, ReadLogLevelSetting(&origin));
        EXPECT_EQ(SettingOrigin::Policy, origin);
        // The store tool shows it with its origin for both builds, beside the versions.
        const ProgramResult version = Tool(L"--version");
        EXPECT_EQ(0, version.exitCode);
        EXPECT_TRUE(Contains(version.output, "VelnorIE " + Narrow(kProductVersion) + "\n")) << version.output;
        const std::string ownDll = Is64BitProcess() ? "VelnorIEx64.dll  " : "VelnorIEx32.dll  ";
        EXPECT_TRUE(Contains(version.output, ownDll + Narrow(kProductVersion) + "  ")) << version.output;
        const std::string policyLevel = "  LogLevel" + std::string(12, ' ') + "2";
        const size_t first = version.output.find(policyLevel);
        ASSERT_NE(std::string::npos, first) << version.output;
        EXPECT_NE(std::string::npos, version.output.find(policyLevel, first + 1)) << "both builds";
        EXPECT_TRUE(Contains(version.output.substr(first, 120), "policy (HKLM\\SOFTWARE\\Policies\\Zorvanti\\VelnorIE)"));
        policy.Apply(State::Disabled);
        EXPECT_EQ(0, ReadLogLevelSetting(&origin));
        EXPECT_EQ(SettingOrigin::Policy, origin);
        policy.Apply(State::NotConfigured);
        EXPECT_EQ(4, ReadLogLevelSetting(&origin));
        EXPECT_EQ(SettingOrigin::ProductKey, origin);
    }
    {
        SCOPED_TRACE("Catalog");
        const std::wstring folder = FreshFolder(L"policy-catalog");
        const std::wstring file = folder + L"\\catalog.json";
        WriteFileBytes(file, R"([{"name": "intranet", "launch": "https://intranet.example/", "credential": "Velnor:policy-test",
                                 "template": {"url": "https://intranet.example/*", "elements": []}}])");
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            PolicyApplier policy = Policy(L"Catalog", root);
            policy.Apply(State::Enabled, {{L"CatalogPath", {file, {}, 0}}});
            const std::string where = root == HKEY_LOCAL_MACHINE ? "policy, HKLM" : "policy, HKCU";
            const ProgramResult shown = Tool(L"catalog");
            EXPECT_EQ(0, shown.exitCode) << shown.output;
            EXPECT_TRUE(Contains(shown.output, "catalog " + Narrow(file) + " (" + where + "): 1 entry")) << shown.output;
        }
        Policy(L"Catalog", HKEY_LOCAL_MACHINE).Apply(State::Disabled);
        EXPECT_TRUE(Contains(Tool(L"catalog").output, "(policy, HKCU)")) << "the user's policy when the computer's has none";
        Policy(L"Catalog", HKEY_CURRENT_USER).Apply(State::Disabled);
        const ProgramResult none = Tool(L"catalog");
        EXPECT_EQ(1, none.exitCode);
        EXPECT_TRUE(Contains(none.output, "no catalog is configured")) << none.output;
    }
    {
        SCOPED_TRACE("AgentAtLogon");
        PolicyApplier policy = Policy(L"AgentAtLogon");
        const std::wstring command = L"\"%ProgramFiles%\\Zorvanti\\VelnorSSOStore.exe\" agent --run";
        policy.Apply(State::Enabled, {{L"AgentCommand", {command, {}, 0}}});
        EXPECT_TRUE(ReadAgentAtLogonSetting(&origin));
        EXPECT_EQ(SettingOrigin::Policy, origin);
        unique_hkey run;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kExplorerRunPolicy, 0, KEY_READ | KEY_WOW64_64KEY, run.put()));
        wchar_t stored[512] = L"";
        DWORD type = 0, size = sizeof(stored) - sizeof(wchar_t);
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(run.get(), kAgentRunValue, nullptr, &type, reinterpret_cast<BYTE*>(stored), &size));
        EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
        EXPECT_EQ(command, stored);
        EXPECT_TRUE(Contains(Tool(L"--version").output, "  AgentAtLogon" + std::string(8, ' ') + "1 (yes)"));
        policy.Apply(State::Disabled);
        EXPECT_FALSE(ReadAgentAtLogonSetting(&origin));
        EXPECT_EQ(SettingOrigin::Policy, origin);
        // Turned off, the agent does not start, whatever registration started it.
        EXPECT_EQ(0, RunProgram(L"VelnorSSOStore.exe", L"agent --run", 20000));
        policy.Apply(State::NotConfigured);
        EXPECT_FALSE(ReadAgentAtLogonSetting(&origin));
        EXPECT_EQ(SettingOrigin::Default, origin);
    }
    // A policy added to the template without a check here fails.
    std::set<std::wstring> all;
    for (const Node& policy : Select(m_admx, L"//p:policies/p:policy")) all.insert(Text(policy, L"@name"));
    EXPECT_EQ(all, m_checked);
}

}  // namespace
