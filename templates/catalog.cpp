#include "templates/catalog.h"

#include "common/text.h"
#include "templates/patterns.h"
#include "templates/template_check.h"
#include "templates/template_text.h"

#include <windows.h>
#include <wincred.h>

#include <algorithm>
#include <cctype>
#include <set>

using nlohmann::json;

namespace {

bool IsString(const json& object, const char* name) {
    return object.is_object() && object.contains(name) && object[name].is_string();
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A step whose element is a password field by its own description. A catalog is read by every
// user of the share: a literal text typed into such a field is a password in a file.
bool FindsPasswordField(const json& step) {
    if (!step.is_object() || !step.contains("find") || !IsString(step["find"], "value")) return false;
    const std::string value = Lower(step["find"]["value"].get<std::string>());
    return value.find("pass") != std::string::npos || value.find("pwd") != std::string::npos;
}

// Address the browser is started with: it goes on a command line, so only an ordinary web
// address is taken (no spaces, quotes or control characters that could add arguments).
bool IsLaunchAddress(const std::string& url) {
    const std::string lower = Lower(url);
    if (lower.rfind("https://", 0) != 0 && lower.rfind("http://", 0) != 0) return false;
    if (url.size() > 2048) return false;
    for (unsigned char c : url)
        if (c <= 0x20 || c == '"' || c == 0x7F) return false;
    return true;
}

// The rules of a "policy" object over the defaults; false when a field is not as it should be.
bool ReadPolicy(const json& policy, PasswordPolicy* rules) {
    if (!policy.is_object()) return false;
    if (policy.contains("length")) {
        if (!policy["length"].is_number_integer()) return false;
        const long long length = policy["length"].get<long long>();
        if (length < kMinPolicyLength || length > kMaxPolicyLength) return false;
        rules->length = static_cast<int>(length);
    }
    for (auto [name, flag] : {std::pair<const char*, bool*>{"lower", &rules->lower}, {"upper", &rules->upper},
                              {"digits", &rules->digits}}) {
        if (!policy.contains(name)) continue;
        if (!policy[name].is_boolean()) return false;
        *flag = policy[name].get<bool>();
    }
    if (policy.contains("symbols")) {
        const json& symbols = policy["symbols"];
        if (symbols.is_boolean()) {
            if (!symbols.get<bool>()) rules->symbols.clear();
        } else if (symbols.is_string()) {
            rules->symbols = symbols.get<std::string>();
            for (unsigned char c : rules->symbols)
                if (c <= 0x20 || c >= 0x7F) return false;
        } else {
            return false;
        }
    }
    return true;
}

class CatalogChecker {
public:
    std::vector<std::string> problems, warnings;

    void Check(const std::string& utf8) {
        json catalog;
        try {
            catalog = ParseTemplateJson(utf8);
        } catch (const json::exception&) {
            // The template checker names the syntax error with line and column.
            for (const std::string& problem : CheckTemplateText(utf8)) problems.push_back(problem);
            if (problems.empty()) problems.push_back("the text is not valid JSON");
            return;
        }
        if (!catalog.is_array()) return problems.push_back("the top level must be an array of catalog entries");
        std::set<std::string> names;
        for (size_t i = 0; i < catalog.size(); ++i) Entry(catalog[i], i, names);
    }

private:
    void Problem(const std::string& text) { problems.push_back(m_where + ": " + text); }

    void Entry(const json& entry, size_t index, std::set<std::string>& names) {
        m_where = "entry " + std::to_string(index + 1);
        if (IsString(entry, "name") && !entry["name"].get<std::string>().empty())
            m_where += " (" + entry["name"].get<std::string>() + ")";
        if (!entry.is_object()) return Problem("must be an object");
        if (!IsString(entry, "name") || entry["name"].get<std::string>().empty()) Problem("name must be a non-empty string");
        else if (!names.insert(entry["name"].get<std::string>()).second) Problem("name is given to an earlier entry too");
        if (!IsString(entry, "launch") || !IsLaunchAddress(entry["launch"].get<std::string>()))
            Problem("launch must be an http:// or https:// address without spaces or quotes");
        Credential(entry);
        const bool change = entry.contains("kind") && entry["kind"] == "passwordChange";
        if (entry.contains("kind") && !(entry["kind"].is_string() && (entry["kind"] == "login" || change)))
            Problem("kind must be \"login\" or \"passwordChange\"");
        if (entry.contains("policy")) Policy(entry["policy"], change);
        if (entry.contains("passwordrules")) Rules(entry["passwordrules"], change);
        if (change && entry.contains("policy") && entry.contains("passwordrules"))
            Problem("policy and passwordrules are both given: give the rules of new passwords in one of them");
        m_change = change;
        if (entry.contains("persist") &&
            !(entry["persist"].is_string() && (entry["persist"] == "local" || entry["persist"] == "enterprise")))
            Problem("persist must be \"local\" or \"enterprise\"");
        if (entry.contains("lifetime") &&
            !(entry["lifetime"].is_number_integer() && entry["lifetime"].get<long long>() >= kMinLaunchLifetime &&
              entry["lifetime"].get<long long>() <= kMaxLaunchLifetime))
            Problem("lifetime must be a whole number of seconds from " + std::to_string(kMinLaunchLifetime) + " to " +
                    std::to_string(kMaxLaunchLifetime));
        if (!entry.contains("template")) return Problem("template is required");
        if (!entry["template"].is_object()) return Problem("template must be an object");
        Template(entry["template"]);
        if (change) ChangeTemplate(entry["template"]);
        if (problems.empty() && IsString(entry, "launch") && IsString(entry["template"], "url") &&
            !MaskedPatternMatches(Utf8ToWide(entry["template"]["url"].get<std::string>()),
                                  Utf8ToWide(entry["launch"].get<std::string>())))
            warnings.push_back(m_where + ": the template's url does not match the launch address, so the template "
                               "does not run on the page the browser opens");
    }

    void Credential(const json& entry) {
        if (!IsString(entry, "credential")) return Problem("credential must be a string starting with Velnor:");
        const std::wstring target = Utf8ToWide(entry["credential"].get<std::string>());
        const size_t prefix = wcslen(kCredentialPrefix);
        if (target.compare(0, prefix, kCredentialPrefix) != 0 || target.size() == prefix)
            return Problem("credential must be a string starting with Velnor:");
        if (target.find(kAccountSeparator) != std::wstring::npos)
            return Problem("credential must not contain \"#\" (it separates the accounts of one entry)");
        // Room for "#" and an account name within the Credential Manager's limit.
        if (target.size() > CRED_MAX_GENERIC_TARGET_NAME_LENGTH - 64) Problem("credential is too long");
    }

    void Policy(const json& policy, bool change) {
        if (!change) return Problem("policy belongs to a passwordChange entry");
        if (!policy.is_object()) return Problem("policy must be an object");
        PasswordPolicy rules;
        if (!ReadPolicy(policy, &rules))
            return Problem("policy: length must be a whole number from " + std::to_string(kMinPolicyLength) + " to " +
                           std::to_string(kMaxPolicyLength) + ", lower, upper and digits true or false, symbols a "
                           "text of printable ASCII characters other than space (or true or false)");
        const std::string problem = PasswordRulesProblem(RulesOfPolicy(rules));
        if (!problem.empty()) Problem("policy: " + problem);
    }

    void Rules(const json& text, bool change) {
        if (!change) return Problem("passwordrules belongs to a passwordChange entry");
        if (!text.is_string() || text.get<std::string>().empty())
            return Problem("passwordrules must be a non-empty text such as \"minlength: 12; required: lower; required: digit;\"");
        PasswordRules rules;
        std::string problem;
        if (!ReadPasswordRules(text.get<std::string>(), &rules, &problem)) Problem("passwordrules: " + problem);
    }

    // A password change types the current password and the new one (what the site must say about
    // it, verify, is the template checker's: the launched template carries "kind").
    void ChangeTemplate(const json& t) {
        bool typesNew = false;
        if (t.contains("elements") && t["elements"].is_array())
            for (const json& step : t["elements"])
                if (step.is_object() && step.contains("actions") && step["actions"].is_array())
                    for (const json& action : step["actions"])
                        if (action.is_object() && action.contains("valueFrom") && action["valueFrom"] == "newPassword")
                            typesNew = true;
        if (!typesNew) Problem("template: a passwordChange entry types the new password (\"valueFrom\": \"newPassword\")");
    }

    // The template's own fields are the template checker's; the catalog's part is where each
    // secret comes from.
    void Template(const json& t) {
        if (t.contains("expires")) Problem("template.expires is set at each launch, not in the catalog");
        if (t.contains("elements") && t["elements"].is_array()) {
            const json& steps = t["elements"];
            for (size_t s = 0; s < steps.size(); ++s) {
                if (!steps[s].is_object() || !steps[s].contains("actions") || !steps[s]["actions"].is_array()) continue;
                const json& actions = steps[s]["actions"];
                for (size_t a = 0; a < actions.size(); ++a)
                    Action(steps[s], actions[a], "template.elements[" + std::to_string(s) + "].actions[" +
                                                     std::to_string(a) + "]");
            }
        }
        // The template as one launch gives it, checked as any template file is.
        const std::string resolved = "[" + WideToUtf8(ResolveLaunchTemplate(SampleOf(t, m_change), SampleFill())) + "]";
        for (const std::string& problem : CheckTemplateText(resolved)) {
            // "template 1 (url): ..." names the one template of this entry.
            const size_t colon = problem.find(": ");
            Problem("template: " + (problem.rfind("template 1", 0) == 0 && colon != std::string::npos
                                        ? problem.substr(colon + 2)
                                        : problem));
        }
    }

    void Action(const json& step, const json& action, const std::string& path) {
        if (!action.is_object()) return;
        const bool basic = action.contains("type") && action["type"] == "httpBasicAuth";
        if (action.contains("valueFrom")) {
            const json& from = action["valueFrom"];
            if (basic && !(from == "credential"))
                Problem(path + ".valueFrom must be \"credential\" for httpBasicAuth");
            else if (!basic && !(action.contains("type") && action["type"] == "text"))
                Problem(path + ".valueFrom is taken by text and httpBasicAuth actions only");
            else if (!basic && !(from == "username" || from == "password" || (m_change && from == "newPassword")))
                Problem(path + (m_change ? ".valueFrom must be \"username\", \"password\" or \"newPassword\""
                                         : ".valueFrom must be \"username\" or \"password\""));
            if (!basic && action.contains("value")) Problem(path + " has both value and valueFrom");
            if (basic && (action.contains("username") || action.contains("password")))
                Problem(path + " has both valueFrom and username or password");
            return;
        }
        if (basic && action.contains("password"))
            Problem(path + " carries a password: write \"valueFrom\": \"credential\" instead of username and password");
        else if (!basic && action.contains("type") && action["type"] == "text" && action.contains("value") &&
                 FindsPasswordField(step))
            Problem(path + " types a literal value into a password field: write \"valueFrom\": \"password\" instead");
    }

    static CatalogEntry SampleOf(const json& t, bool change) {
        CatalogEntry sample;
        sample.templateValue = t;
        sample.passwordChange = change;
        return sample;
    }

    static LaunchFill SampleFill() {
        LaunchFill fill;
        fill.userName = L"user";
        fill.passwordToken = L"password";
        fill.newPasswordToken = L"new password";
        fill.launchId = L"0";
        return fill;
    }

    std::string m_where;
    bool m_change = false;
};

json ResolveValue(const json& t, const std::string& userName, const std::string& token, const std::string& newToken) {
    json resolved = t;
    if (!resolved.is_object() || !resolved.contains("elements") || !resolved["elements"].is_array()) return resolved;
    for (json& step : resolved["elements"]) {
        if (!step.is_object() || !step.contains("actions") || !step["actions"].is_array()) continue;
        for (json& action : step["actions"]) {
            if (!action.is_object() || !action.contains("valueFrom")) continue;
            const json from = action["valueFrom"];
            action.erase("valueFrom");
            if (action.contains("type") && action["type"] == "httpBasicAuth") {
                action["username"] = userName;
                action["password"] = token;
            } else if (from == "username") {
                action["value"] = userName;
            } else if (from == "password") {
                action["value"] = token;
            } else if (from == "newPassword") {
                action["value"] = newToken;
            }
        }
    }
    return resolved;
}

}  // namespace

std::vector<std::string> CheckCatalogText(const std::string& utf8) {
    CatalogChecker checker;
    checker.Check(utf8);
    return checker.problems;
}

std::vector<std::string> CatalogWarnings(const std::string& utf8) {
    CatalogChecker checker;
    checker.Check(utf8);
    if (!checker.problems.empty()) return {};
    std::vector<std::string> warnings = checker.warnings;
    for (const CatalogEntry& entry : ReadCatalog(utf8)) {
        LaunchFill fill;
        fill.userName = L"user";
        fill.passwordToken = L"password";
        fill.newPasswordToken = L"new password";
        fill.launchId = L"0";
        const std::string resolved = "[" + WideToUtf8(ResolveLaunchTemplate(entry, fill)) + "]";
        for (const std::string& warning : TemplateWarnings(resolved)) warnings.push_back("entry (" + entry.name + "): " + warning);
    }
    return warnings;
}

bool LooksLikeCatalog(const std::string& utf8) {
    try {
        const json value = ParseTemplateJson(utf8);
        if (!value.is_array()) return false;
        for (const json& entry : value)
            if (entry.is_object() && entry.contains("template")) return true;
    } catch (const json::exception&) {
    }
    return false;
}

std::vector<CatalogEntry> ReadCatalog(const std::string& utf8) {
    std::vector<CatalogEntry> entries;
    for (const json& value : ParseTemplateJson(utf8)) {
        CatalogEntry entry;
        entry.name = value.at("name").get<std::string>();
        entry.launch = Utf8ToWide(value.at("launch").get<std::string>());
        entry.credential = Utf8ToWide(value.at("credential").get<std::string>());
        entry.enterprise = value.contains("persist") && value["persist"] == "enterprise";
        if (value.contains("lifetime")) entry.lifetime = value["lifetime"].get<long long>();
        entry.passwordChange = value.contains("kind") && value["kind"] == "passwordChange";
        if (value.contains("policy")) {
            PasswordPolicy policy;
            ReadPolicy(value["policy"], &policy);
            entry.policy = RulesOfPolicy(policy);
        }
        if (value.contains("passwordrules")) {
            std::string problem;
            ReadPasswordRules(value["passwordrules"].get<std::string>(), &entry.policy, &problem);
        }
        entry.templateValue = value.at("template");
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::wstring ResolveLaunchTemplate(const CatalogEntry& entry, const LaunchFill& fill) {
    json resolved = ResolveValue(entry.templateValue, WideToUtf8(fill.userName), WideToUtf8(fill.passwordToken),
                                 WideToUtf8(fill.newPasswordToken));
    if (resolved.is_object()) {
        resolved["expires"] = fill.expires;
        resolved["launchId"] = WideToUtf8(fill.launchId);
        if (!entry.name.empty()) resolved["name"] = entry.name;
        if (!fill.credential.empty()) resolved["credential"] = WideToUtf8(fill.credential);
        if (entry.passwordChange) resolved["kind"] = "passwordChange";
    }
    return Utf8ToWide(WriteTemplateJson(resolved, false));
}

const CatalogEntry* ChangeEntryFor(const std::vector<CatalogEntry>& entries, const CatalogEntry& login) {
    for (const CatalogEntry& entry : entries)
        if (entry.passwordChange && CompareStringOrdinal(entry.credential.c_str(), -1, login.credential.c_str(), -1, TRUE) == CSTR_EQUAL)
            return &entry;
    return nullptr;
}

namespace {

bool EndsWith(const std::wstring& target, const wchar_t* suffix) {
    const size_t length = wcslen(suffix);
    return target.size() > length &&
           CompareStringOrdinal(target.c_str() + target.size() - length, -1, suffix, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool IsPendingTarget(const std::wstring& target) { return EndsWith(target, kPendingSuffix); }

bool IsPreviousTarget(const std::wstring& target) { return EndsWith(target, kPreviousSuffix); }

bool IsAccountOf(const std::wstring& target, const std::wstring& entryTarget) {
    if (IsPendingTarget(target) || IsPreviousTarget(target)) return false;
    if (target.size() < entryTarget.size() || CompareStringOrdinal(target.c_str(), static_cast<int>(entryTarget.size()),
                                                                   entryTarget.c_str(), static_cast<int>(entryTarget.size()),
                                                                   TRUE) != CSTR_EQUAL)
        return false;
    return target.size() == entryTarget.size() || target[entryTarget.size()] == kAccountSeparator;
}
