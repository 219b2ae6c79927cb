#include "templates/recorded_entry.h"

#include "common/text.h"
#include "templates/template_check.h"

#include <algorithm>
#include <cctype>

using nlohmann::json;

namespace {

using ordered = nlohmann::ordered_json;

std::string Field(const json& draft, const char* name) {
    return draft.contains(name) && draft[name].is_string() ? draft[name].get<std::string>() : std::string();
}

bool HasFind(const json& draft, const char* name) { return draft.contains(name) && draft[name].is_object(); }

// "https://host:port" of an address, empty when it has none.
std::string SiteOf(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return std::string();
    return url.substr(0, url.find_first_of("/?#", scheme + 3));
}

std::string WithoutFragment(const std::string& url) { return url.substr(0, url.find('#')); }

std::string WithoutQuery(const std::string& url) { return url.substr(0, url.find_first_of("?#")); }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A query parameter's name or value as the page meant it ("+" a space, "%xx" a byte).
std::string Decoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Whether a query parameter's name is one a user name goes by (a form sent by GET puts what was
// typed into the next page's address), as the content script's hint for user name fields.
bool NamesUser(const std::string& name) {
    std::string lower;
    for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* hint : {"user", "login", "logon", "mail", "account", "uid", "name", "ident"})
        if (lower.find(hint) != std::string::npos) return true;
    return false;
}

// The address the entry launches: the page's, without its fragment and without the query
// parameters that look like one-time values or hold a user name, whose names go into *left.
std::string LaunchAddressOf(const std::string& page, std::vector<std::string>* left) {
    const std::string address = WithoutFragment(page);
    const size_t query = address.find('?');
    if (query == std::string::npos) return address;
    std::string kept;
    for (size_t at = query + 1; at <= address.size();) {
        const size_t end = std::min(address.find('&', at), address.size());
        const std::string parameter = address.substr(at, end - at);
        at = end + 1;
        if (parameter.empty()) continue;
        const size_t equals = parameter.find('=');
        const std::string name = Decoded(parameter.substr(0, equals));
        const std::string value = equals == std::string::npos ? std::string() : Decoded(parameter.substr(equals + 1));
        if (NameSaysSecret(name) || LooksOneTime(value) || (!value.empty() && NamesUser(name))) {
            left->push_back(name);
            continue;
        }
        kept += (kept.empty() ? "?" : "&") + parameter;
    }
    return address.substr(0, query) + kept;
}

ordered TypeStep(const json& find, const char* valueFrom) {
    return {{"find", ordered(find)}, {"actions", ordered::array({{{"type", "text"}, {"valueFrom", valueFrom}, {"events", true}}})}};
}

ordered ClickStep(const json& find) { return {{"find", ordered(find)}, {"actions", ordered::array({{{"type", "click"}}})}}; }

bool IsOneOf(const std::string& text, const std::vector<std::string>& choices) {
    return std::find(choices.begin(), choices.end(), text) != choices.end();
}

// A text a person could have typed into a field: short, of whole characters, without controls.
bool IsTypedText(const std::string& text) {
    bool valid = false;
    const std::wstring wide = Utf8ToWide(text, &valid);
    return valid && !wide.empty() && wide.size() <= kRecordedValueMax &&
           std::none_of(wide.begin(), wide.end(), [](wchar_t c) { return c < 0x20 || c == 0x7F; });
}

// The step that gives a field of a sent draft what it held, or false (with *why) where the entry
// does not take it: the draft is the page's word, and the entry goes to every user of a catalog.
bool SettingStep(const json& field, ordered* step, std::string* why) {
    const json* find = field.is_object() && field.contains("find") ? &field["find"] : nullptr;
    if (!find || !find->is_object() || Field(*find, "type").empty() || !IsOneOf(Field(*find, "type"), TemplateFindTypes()) ||
        Field(*find, "value").empty() || Field(*find, "value").size() > 1024) {
        *why = "a field without a find the entry can use";
        return false;
    }
    const std::string kind = Field(field, "kind");
    const std::string type = Field(*find, "type");
    // Selectors and XPaths name the form too ("the form that holds the password field").
    if ((type == "id" || type == "name" || type == "class") && NameSaysSecret(Field(*find, "value"))) {
        *why = type + " \"" + Field(*find, "value") + "\", whose name says it holds a secret";
        return false;
    }
    ordered action;
    if (kind == "checkbox" && field.contains("checked") && field["checked"].is_boolean()) {
        action = {{"type", "checkbox"}, {"selected", field["checked"].get<bool>() ? "true" : "false"}, {"byClick", true}};
    } else if ((kind == "text" || kind == "select") && IsTypedText(Field(field, "value"))) {
        if (LooksOneTime(Field(field, "value"))) {
            *why = type + " \"" + Field(*find, "value") + "\", whose value looks like a one-time token";
            return false;
        }
        action = {{"type", kind}, {"value", Field(field, "value")}, {"events", true}};
    } else {
        *why = type + " \"" + Field(*find, "value") + "\", whose kind or value the entry cannot set";
        return false;
    }
    *step = {{"find", ordered(*find)}, {"actions", ordered::array({action})}};
    return true;
}

// The steps of one page's form into *steps: what its other fields held when it was sent and the
// user name, in the order the page shows them, then the password, then what submits it. The
// first step of a page after the first one starts on that page (`nextPage`).
void AddFormSteps(const json& draft, bool password, bool withFields, bool nextPage, ordered* steps,
                  std::vector<std::string>* notes) {
    const size_t first = steps->size();
    std::vector<ordered> settings;
    size_t beforeUser = 0;
    const json& fields = draft.contains("fields") && draft["fields"].is_array() ? draft["fields"] : json::array();
    const bool sent = draft.contains("sent") && draft["sent"] == true;
    const long long userAt = draft.contains("userAt") && draft["userAt"].is_number_integer() ? draft["userAt"].get<long long>() : 0;
    if (!fields.empty() && !withFields) {
        notes->push_back("left out with --only-credentials: " + std::to_string(fields.size()) + " more fields of the form");
    } else if (!fields.empty() && !sent) {
        notes->push_back("the form was not sent while recording: its other " + std::to_string(fields.size()) +
                         " fields are left as the page sets them");
    } else if (!fields.empty()) {
        for (size_t i = 0; i < fields.size(); ++i) {
            ordered step;
            std::string why;
            if (!SettingStep(fields[i], &step, &why)) {
                notes->push_back("left out: " + why);
                continue;
            }
            settings.push_back(std::move(step));
            if (static_cast<long long>(i) < userAt) beforeUser = settings.size();
        }
    }
    for (size_t i = 0; i < beforeUser; ++i) steps->push_back(settings[i]);
    if (HasFind(draft, "user")) steps->push_back(TypeStep(draft["user"], "username"));
    for (size_t i = beforeUser; i < settings.size(); ++i) steps->push_back(settings[i]);
    if (password) steps->push_back(TypeStep(draft["password"], "password"));
    steps->push_back(ClickStep(draft["submit"]));
    if (nextPage) (*steps)[first]["nextPage"] = true;
}

// The pattern of pages from `first` to `last`: the part of their addresses they share (without
// their queries, which a site often adds to as it likes), cut back to a "/", never shorter than
// the site itself.
std::string UrlPatternOf(const std::string& firstPage, const std::string& lastPage) {
    const std::string first = WithoutQuery(firstPage), last = WithoutQuery(lastPage);
    const std::string site = SiteOf(last);
    size_t shared = 0;
    while (shared < first.size() && shared < last.size() && first[shared] == last[shared]) ++shared;
    std::string prefix = last.substr(0, shared);
    if (prefix != last) prefix = prefix.substr(0, prefix.rfind('/') + 1);
    if (prefix.size() < site.size() + 1) prefix = site + "/";
    return prefix + "*";
}

std::string Joined(const std::vector<std::string>& texts) {
    std::string out;
    for (const std::string& text : texts) out += (out.empty() ? "" : ", ") + text;
    return out;
}

}  // namespace

bool NameSaysSecret(const std::string& name) {
    // Words split where the name changes from lower to upper case and at everything not a
    // letter or digit ("userPin", "sms_code", "one-time-code"); parts are found anywhere.
    std::vector<std::string> words(1);
    std::string joined;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (!IsLetter(c) && !IsDigit(c)) {
            if (!words.back().empty()) words.emplace_back();
            continue;
        }
        if (i > 0 && c >= 'A' && c <= 'Z' && name[i - 1] >= 'a' && name[i - 1] <= 'z') words.emplace_back();
        const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        words.back() += lower;
        joined += lower;
    }
    static const char* const kParts[] = {"pass", "pwd", "secret", "token", "csrf", "xsrf", "nonce", "captcha",
                                         "onetime", "sectok", "sessionid", "sessid", "saml"};
    static const std::vector<std::string> kWords = {"pw", "pin", "otp", "totp", "hotp", "code", "mfa", "2fa",
                                                    "tan", "key", "cvv", "cvc", "cc", "answer", "state", "sid",
                                                    "ticket", "sig", "signature", "hmac"};
    for (const char* part : kParts)
        if (joined.find(part) != std::string::npos) return true;
    return std::any_of(words.begin(), words.end(), [](const std::string& word) { return IsOneOf(word, kWords); });
}

bool LooksOneTime(const std::string& value) {
    size_t run = 0, changes = 0;
    for (size_t i = 0; i <= value.size(); ++i) {
        const char c = i < value.size() ? value[i] : '\0';
        if (IsLetter(c) || IsDigit(c)) {
            if (run > 0 && IsLetter(c) != IsLetter(value[i - 1])) ++changes;
            ++run;
            continue;
        }
        if (run >= 16 && changes >= 3) return true;
        run = changes = 0;
    }
    return false;
}

bool EntryFromDrafts(const std::vector<json>& drafts, const std::string& name, bool onlyCredentials,
                     RecordedEntry* recorded, std::string* why) {
    // The last login form seen is the one the administrator ended on.
    const json* password = nullptr;
    for (const json& draft : drafts)
        if (HasFind(draft, "password") && HasFind(draft, "submit")) password = &draft;
    if (!password) {
        *why = "no page showed a login form with a password field";
        return false;
    }
    const std::string site = SiteOf(Field(*password, "page"));
    // A login of two pages: the user name asked for alone, before, on the same site.
    const json* user = nullptr;
    if (!HasFind(*password, "user")) {
        for (const json& draft : drafts) {
            if (&draft == password) break;
            if (HasFind(draft, "user") && !HasFind(draft, "password") && HasFind(draft, "submit") &&
                SiteOf(Field(draft, "page")) == site)
                user = &draft;
        }
    }

    std::vector<std::string>& notes = recorded->notes;
    ordered steps = ordered::array();
    const json& first = user ? *user : *password;
    if (user) AddFormSteps(*user, false, !onlyCredentials, false, &steps, &notes);
    else if (!HasFind(*password, "user")) notes.push_back("no user name field was seen: the entry types the password only");
    AddFormSteps(*password, true, !onlyCredentials, user != nullptr, &steps, &notes);
    if (password->contains("frame") && (*password)["frame"] == true) notes.push_back("the login form is in a frame of the page");

    std::vector<std::string> left;
    const std::string launch = LaunchAddressOf(Field(first, "page"), &left);
    if (first.contains("left") && first["left"].is_array())
        for (const json& named : first["left"])
            if (named.is_string() && IsTypedText(named.get<std::string>()) && !IsOneOf(named.get<std::string>(), left))
                left.push_back(named.get<std::string>());
    if (!left.empty())
        notes.push_back("launch opens the login page without " + Joined(left) +
                        " of its address, which look like values for one visit or one person");

    ordered templateValue = {{"url", UrlPatternOf(Field(first, "page"), Field(*password, "page"))},
                             {"maxRetries", kRecordedWaitSeconds},
                             {"retryInterval", 1},
                             {"elements", steps},
                             {"verify", {{"within", 15}}}};
    recorded->entry = {{"name", name}, {"launch", launch}, {"credential", "Velnor:" + name}, {"template", templateValue}};
    return true;
}

std::string EntryNameForSite(const std::string& url) {
    std::string host = SiteOf(url);
    host = host.substr(std::min(host.size(), host.find("://") + 3));
    host = host.substr(0, host.find(':'));
    size_t start = 0;
    for (;;) {
        const size_t dot = host.find('.', start);
        const std::string label = host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        const bool generic = label == "www" || label == "login" || label == "sso" || label == "auth" || label == "signin";
        if (!generic || dot == std::string::npos) {
            std::string name;
            for (char c : label)
                if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') name += c;
            return name.empty() ? "site" : name;
        }
        start = dot + 1;
    }
}
