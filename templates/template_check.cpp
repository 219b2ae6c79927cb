#include "templates/template_check.h"

#include "common/text.h"
#include "templates/patterns.h"
#include "templates/store_records.h"
#include "templates/template_store.h"
#include "templates/template_text.h"

#include <cmath>
#include <utility>

using nlohmann::json;

const std::vector<std::string>& TemplateFindTypes() {
    static const std::vector<std::string> types = {"id", "name", "class", "xpath", "selector"};
    return types;
}

const std::vector<std::string>& TemplateActionTypes() {
    static const std::vector<std::string> types = {"text", "click", "select", "checkbox", "keypress",
                                                   "enable", "sendEvent", "delay", "httpBasicAuth"};
    return types;
}

const std::vector<std::string>& VerifyFindTypes() {
    static const std::vector<std::string> types = {"id", "name", "class", "xpath", "selector", "text"};
    return types;
}

namespace {

bool OneOf(const json& value, const std::vector<std::string>& choices) {
    if (!value.is_string()) return false;
    for (const std::string& choice : choices)
        if (value.get<std::string>() == choice) return true;
    return false;
}

std::string List(const std::vector<std::string>& choices) {
    std::string list;
    for (const std::string& choice : choices) list += (list.empty() ? "" : ", ") + choice;
    return list;
}

bool IsInteger(const json& value) {
    return value.is_number_integer() || (value.is_number_float() && std::floor(value.get<double>()) == value.get<double>());
}

bool HasLineBreak(const json& value) {
    return value.is_string() && value.get<std::string>().find_first_of("\r\n") != std::string::npos;
}

class Checker {
public:
    std::vector<std::string> problems;

    void Template(const json& t, size_t index) {
        m_where = "template " + std::to_string(index + 1);
        if (t.is_object() && t.contains("url") && t["url"].is_string()) m_where += " (" + t["url"].get<std::string>() + ")";
        if (!t.is_object()) return Problem("must be an object");
        if (!t.contains("url")) Problem("url is required");
        else if (!t["url"].is_string()) Problem("url must be a string");
        else if (HasLineBreak(t["url"])) Problem("url must not contain line breaks");
        if (t.contains("title") && !t["title"].is_string()) Problem("title must be a string");
        Number(t, "maxRetries", -1, true, "an integer of -1 or more");
        if (t.contains("retryInterval") && (!t["retryInterval"].is_number() || t["retryInterval"].get<double>() <= 0))
            Problem("retryInterval must be a number above 0 (seconds)");
        Number(t, "startElement", 0, true, "an integer of 0 or more");
        Number(t, "startAction", 0, true, "an integer of 0 or more");
        Number(t, "ID", 1, true, "an integer of 1 or more");
        Number(t, "expires", 0, false, "a number of seconds since 1970 UTC");
        if (t.contains("verify")) Verify(t["verify"]);
        if (t.contains("kind") && t["kind"] == "passwordChange") ChangeVerify(t);
        if (!t.contains("elements")) return Problem("elements is required");
        if (!t["elements"].is_array()) return Problem("elements must be an array");
        for (size_t i = 0; i < t["elements"].size(); ++i) Step(t["elements"][i], "elements[" + std::to_string(i) + "]");
    }

    // What the store holds beside templates: it has no steps; a page or the store tool wrote it.
    void Record(const json& record, size_t index) {
        m_where = "record " + std::to_string(index + 1);
        if (record.contains("url") && !record["url"].is_string()) Problem("url must be a string");
    }

private:
    void Problem(const std::string& text) { problems.push_back(m_where + ": " + text); }

    void Number(const json& object, const char* name, double minimum, bool integer, const char* what) {
        if (!object.contains(name)) return;
        const json& value = object[name];
        if (!value.is_number() || (integer && !IsInteger(value)) || value.get<double>() < minimum)
            Problem(std::string(name) + " must be " + what);
    }

    void Find(const json& find, const std::string& path, const std::vector<std::string>& types) {
        if (!find.is_object()) return Problem(path + " must be an object");
        if (!OneOf(find.value("type", json()), types)) Problem(path + ".type must be one of " + List(types));
        if (!find.contains("value") || !find["value"].is_string() || find["value"].get<std::string>().empty())
            Problem(path + ".value must be a non-empty string");
    }

    void Verify(const json& verify) {
        if (!verify.is_object()) return Problem("verify must be an object");
        for (const char* list : {"failure", "success", "changeRequired"}) {
            if (!verify.contains(list)) continue;
            const json& finds = verify[list];
            if (!finds.is_array()) {
                Problem(std::string("verify.") + list + " must be an array of finds");
                continue;
            }
            for (size_t i = 0; i < finds.size(); ++i)
                Find(finds[i], std::string("verify.") + list + "[" + std::to_string(i) + "]", VerifyFindTypes());
        }
        if (verify.contains("within") && !(verify["within"].is_number() && verify["within"].get<double>() > 0 &&
                                           verify["within"].get<double>() <= kMaxVerifyWithin))
            Problem("verify.within must be a number of seconds above 0, at most " +
                    std::to_string(static_cast<int>(kMaxVerifyWithin)));
    }

    // A password change settles only on what the site says, either way: without both lists, a
    // page that says neither (a login page, an error page, a second factor) would be taken for
    // one of them, and the password the site holds lost.
    void ChangeVerify(const json& t) {
        if (t.contains("verify") && !t["verify"].is_object()) return;   // said above
        const json verify = t.value("verify", json::object());
        for (const char* list : {"success", "failure"}) {
            if (verify.contains(list) && !(verify[list].is_array() && verify[list].empty())) continue;
            Problem(std::string("a password change needs verify.") + list + ", at least one find that shows the site " +
                    (list == std::string("success") ? "took" : "refused") + " the new password");
        }
    }

    void Step(const json& step, const std::string& path) {
        if (!step.is_object()) return Problem(path + " must be an object");
        if (step.contains("find")) Find(step["find"], path + ".find", TemplateFindTypes());
        if (step.contains("nextPage") && !step["nextPage"].is_boolean()) Problem(path + ".nextPage must be true or false");
        if (!step.contains("actions")) return;
        if (!step["actions"].is_array()) return Problem(path + ".actions must be an array");
        for (size_t j = 0; j < step["actions"].size(); ++j)
            Action(step["actions"][j], path + ".actions[" + std::to_string(j) + "]");
    }

    void Action(const json& action, const std::string& path) {
        if (!action.is_object()) return Problem(path + " must be an object");
        const json type = action.value("type", json());
        if (!OneOf(type, TemplateActionTypes())) return Problem(path + ".type must be one of " + List(TemplateActionTypes()));
        const std::string name = type.get<std::string>();
        const auto has = [&](const char* field) { return action.contains(field) && !action[field].is_null(); };
        const auto scalar = [&](const char* field) {
            return has(field) && (action[field].is_string() || action[field].is_number() || action[field].is_boolean());
        };
        // The optional switches of text, select and checkbox (elsewhere they are carried along).
        const char* flag = name == "text" || name == "select" ? "events" : name == "checkbox" ? "byClick" : nullptr;
        if (flag && action.contains(flag) && !action[flag].is_boolean())
            Problem(path + "." + flag + " must be true or false");
        if (name == "text" && !scalar("value")) {
            Problem(path + ": text needs value (a string, number or boolean)");
        } else if (name == "select" && !scalar("value") && !scalar("byValue") && !scalar("byDisplay")) {
            Problem(path + ": select needs one of value, byValue, byDisplay");
        } else if (name == "checkbox" && !(has("selected") && action["selected"].is_string() &&
                                           (action["selected"] == "true" || action["selected"] == "false"))) {
            Problem(path + ": checkbox needs selected, \"true\" or \"false\" (as text)");
        } else if (name == "sendEvent" && !(has("event") && action["event"].is_string() && !action["event"].get<std::string>().empty())) {
            Problem(path + ": sendEvent needs event (a non-empty string)");
        } else if (name == "delay" && !(has("value") && action["value"].is_number() && action["value"].get<double>() >= 0)) {
            Problem(path + ": delay needs value, a number of 0 or more (milliseconds)");
        } else if (name == "httpBasicAuth" && !(has("username") && has("password") && action["username"].is_string() &&
                                                action["password"].is_string() && !HasLineBreak(action["username"]) &&
                                                !HasLineBreak(action["password"]))) {
            Problem(path + ": httpBasicAuth needs username and password (strings without line breaks)");
        }
    }

    std::string m_where;
};

}  // namespace

std::vector<std::string> CheckTemplateText(const std::string& utf8) {
    bool valid = true;
    const std::wstring wide = Utf8ToWide(utf8, &valid);
    if (!valid) return {"the text is not valid UTF-8"};
    std::vector<std::string> problems;
    json templates;
    try {
        templates = ParseTemplateJson(utf8);
    } catch (const json::parse_error& error) {
        // Line and column of the byte where parsing stopped.
        size_t line = 1, column = 1;
        for (size_t i = 0; i + 1 < error.byte && i < utf8.size(); ++i) {
            if (utf8[i] == '\n') {
                ++line;
                column = 1;
            } else if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
                ++column;
            }
        }
        std::string detail = error.what();
        const size_t colon = detail.find(": ", detail.find("parse error"));
        if (colon != std::string::npos) detail = detail.substr(colon + 2);
        return {"JSON syntax error at line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + detail};
    }
    if (!templates.is_array()) {
        problems.push_back("the top level must be an array of templates");
    } else {
        Checker checker;
        for (size_t i = 0; i < templates.size(); ++i) {
            if (RecordKindOf(templates[i]) != RecordKind::kNone) checker.Record(templates[i], i);
            else checker.Template(templates[i], i);
        }
        problems = std::move(checker.problems);
    }
    if (wide.size() > kMaxTemplateTextLength)
        problems.push_back("the text is " + std::to_string(wide.size()) + " UTF-16 units long; the store holds at most " +
                           std::to_string(kMaxTemplateTextLength));
    return problems;
}

namespace {

// The url patterns of a text, as (position from 1, pattern); none for a text that is no array.
std::vector<std::pair<size_t, std::string>> UrlPatterns(const std::string& utf8) {
    std::vector<std::pair<size_t, std::string>> patterns;
    json templates;
    try {
        templates = ParseTemplateJson(utf8);
    } catch (const json::exception&) {
        return patterns;
    }
    if (!templates.is_array()) return patterns;
    for (size_t i = 0; i < templates.size(); ++i) {
        const json& t = templates[i];
        if (t.is_object() && t.contains("url") && t["url"].is_string()) patterns.emplace_back(i + 1, t["url"].get<std::string>());
    }
    return patterns;
}

std::string Named(size_t position, const std::string& url) {
    return "template " + std::to_string(position) + " (" + url + "): ";
}

}  // namespace

std::vector<std::string> BroadPatternMessages(const std::string& utf8) {
    std::vector<std::string> messages;
    for (const auto& [position, url] : UrlPatterns(utf8)) {
        if (ReachOf(Utf8ToWide(url)) != PatternReach::kManySites) continue;
        const std::string fixed = url.substr(0, url.find('*'));
        std::string text = Named(position, url) + "\"*\" is not a glob: this pattern matches every site" +
                           (fixed.empty() ? std::string() : " whose address starts with \"" + fixed + "\"");
        if (PatternEndsInsideHost(Utf8ToWide(url)))
            text += ", such as " + fixed + ".other.example/; end the host with \"/\" (" + fixed + "/*)";
        else
            text += "; name one site whole, as in https://sso.example.com/login*";
        messages.push_back(text + "; under template isolation no page is given it");
    }
    return messages;
}

std::vector<std::string> TemplateWarnings(const std::string& utf8, bool broadPatterns) {
    std::vector<std::string> warnings;
    if (broadPatterns) warnings = BroadPatternMessages(utf8);
    for (const auto& [position, url] : UrlPatterns(utf8)) {
        if (ReachOf(Utf8ToWide(url)) != PatternReach::kNever) continue;
        const char* why = url.empty()                                        ? "it is empty"
                          : (url[0] == ' ' || url[0] == '\t' || url[0] == '\r' || url[0] == '\n')
                              ? "it starts with white space"
                              : "it does not start with a scheme such as https://";
        warnings.push_back(Named(position, url) + "this pattern can never match a page: " + why);
    }
    return warnings;
}
