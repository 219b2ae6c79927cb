#include "templates/recorded_entry.h"

#include <algorithm>

using nlohmann::json;

namespace {

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

using ordered = nlohmann::ordered_json;

ordered TypeStep(const json& find, const char* valueFrom) {
    return {{"find", ordered(find)}, {"actions", ordered::array({{{"type", "text"}, {"valueFrom", valueFrom}, {"events", true}}})}};
}

ordered ClickStep(const json& find) { return {{"find", ordered(find)}, {"actions", ordered::array({{{"type", "click"}}})}}; }

// The pattern of pages from `first` to `last`: the part of their addresses they share, cut back
// to a "/", never shorter than the site itself.
std::string UrlPatternOf(const std::string& first, const std::string& last) {
    const std::string site = SiteOf(last);
    size_t shared = 0;
    while (shared < first.size() && shared < last.size() && first[shared] == last[shared]) ++shared;
    std::string prefix = last.substr(0, shared);
    if (prefix != last) prefix = prefix.substr(0, prefix.rfind('/') + 1);
    if (prefix.size() < site.size() + 1) prefix = site + "/";
    return prefix + "*";
}

}  // namespace

bool EntryFromDrafts(const std::vector<json>& drafts, const std::string& name, RecordedEntry* recorded, std::string* why) {
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

    ordered steps = ordered::array();
    std::string firstPage = Field(*password, "page");
    if (user) {
        firstPage = Field(*user, "page");
        steps.push_back(TypeStep((*user)["user"], "username"));
        steps.push_back(ClickStep((*user)["submit"]));
        ordered next = TypeStep((*password)["password"], "password");
        next["nextPage"] = true;
        steps.push_back(next);
    } else {
        if (HasFind(*password, "user")) steps.push_back(TypeStep((*password)["user"], "username"));
        else recorded->notes.push_back("no user name field was seen: the entry types the password only");
        steps.push_back(TypeStep((*password)["password"], "password"));
    }
    steps.push_back(ClickStep((*password)["submit"]));
    if (password->contains("frame") && (*password)["frame"] == true)
        recorded->notes.push_back("the login form is in a frame of the page");

    ordered templateValue = {{"url", UrlPatternOf(firstPage, Field(*password, "page"))},
                          {"maxRetries", kRecordedRetries},
                          {"retryInterval", 1},
                          {"elements", steps},
                          {"verify", {{"within", 15}}}};
    recorded->entry = {{"name", name},
                       {"launch", firstPage},
                       {"credential", "Velnor:" + name},
                       {"template", templateValue}};
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
