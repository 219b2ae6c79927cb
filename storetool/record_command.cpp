// The record command: a catalog entry recorded on the login page itself. It puts a recorder
// record into the store; while it is there, every page that shows a login form writes a draft
// of where its fields are, and when the administrator sends the form, what its other fields
// held (never the user name or a password). The drafts become one catalog entry, checked by
// the catalog's own checker and, with --into, added to a catalog file. Everything a draft holds
// is the page's word: it is escaped wherever it reaches the console.
#include "common/text.h"
#include "common/unique_owner.h"
#include "storetool/arguments.h"
#include "storetool/catalog_source.h"
#include "storetool/commands.h"
#include "storetool/store_edits.h"
#include "storetool/store_wait.h"
#include "storetool/tool_output.h"
#include "templates/catalog.h"
#include "templates/json_text.h"
#include "templates/patterns.h"
#include "templates/recorded_entry.h"
#include "templates/store_records.h"
#include "templates/template_expiry.h"
#include "templates/template_store.h"
#include "templates/template_text.h"

#include <windows.h>

#include <algorithm>

using nlohmann::json;

namespace {

constexpr long long kDefaultRecordSeconds = 120;
constexpr long long kMaxRecordSeconds = 3600;
// After the first password field: time for the drafts of the page's other frames to arrive.
constexpr DWORD kSettleMs = 1500;
constexpr int kExitNothingSeen = 3;

// A draft as the tool may use it: stamped by the extension with the origin of the page that
// wrote it, and naming a page of that origin (a page can write any "page" it likes).
struct Draft {
    std::wstring origin;
    long long at = 0;   // the extension's clock
    json value;
    bool ownPage = true;   // it names a page of the origin that wrote it
};

std::vector<Draft> DraftsOf(const TemplateStore& store, const std::string& id) {
    std::vector<Draft> drafts;
    const TemplateStore::View view = store.Access();
    if (!view) return drafts;
    for (StoreRecord& record : ReadStoreRecords(std::wstring_view(view.Text(), view.TextLength()))) {
        if (record.kind != RecordKind::kDraft || record.value["draft"] != id) continue;
        const EntryStamp stamp = StampOf(record.value);
        if (!stamp.present || stamp.origin.empty()) continue;
        const std::wstring origin = Utf8ToWide(stamp.origin);
        const bool ownPage = OriginOfUrl(Utf8ToWide(record.value.value("page", std::string()))) == origin;
        drafts.push_back({origin, stamp.at, std::move(record.value), ownPage});
    }
    // The order they were written in, by the extension's clock (never the page's word).
    std::stable_sort(drafts.begin(), drafts.end(), [](const Draft& a, const Draft& b) { return a.at < b.at; });
    return drafts;
}

std::vector<json> ValuesOf(const std::vector<Draft>& drafts, const std::wstring& origin) {
    std::vector<json> values;
    for (const Draft& draft : drafts)
        if (draft.origin == origin && draft.ownPage) values.push_back(draft.value);
    return values;
}

bool HoldsPasswordField(const std::vector<json>& drafts) {
    for (const json& draft : drafts)
        if (draft.contains("password")) return true;
    return false;
}

std::string FindText(const json& find) {
    return EscapeControls(find.value("type", std::string()) + " \"" + find.value("value", std::string()) + "\"");
}

// What a draft says a field held when its form was sent, as it may be shown.
std::string SettingText(const json& field) {
    if (field.contains("checked") && field["checked"].is_boolean()) return field["checked"].get<bool>() ? "ticked" : "not ticked";
    if (field.contains("value") && field["value"].is_string()) return EscapeControls("\"" + field["value"].get<std::string>() + "\"");
    return "not sent";
}

void PrintDrafts(const std::vector<json>& drafts) {
    for (const json& draft : drafts) {
        const bool frame = draft.contains("frame") && draft["frame"] == true;
        const bool sent = draft.contains("sent") && draft["sent"] == true;
        Out("  " + EscapeControls(draft.value("page", std::string())) + (frame ? " (in a frame)" : "") +
            (sent ? " (sent)" : "") + "\n");
        for (const char* field : {"user", "password", "submit"})
            if (draft.contains(field) && draft[field].is_object()) Out(std::string("    ") + field + ": " + FindText(draft[field]) + "\n");
        if (!draft.contains("fields") || !draft["fields"].is_array()) continue;
        for (const json& field : draft["fields"])
            if (field.is_object() && field.contains("find") && field["find"].is_object())
                Out("    field: " + FindText(field["find"]) + " = " + SettingText(field) + "\n");
    }
}

// The fields beside user name and password of the last login form a draft shows, when its form
// has not been sent yet: what they hold is known only once it is.
size_t UnsentFields(const std::vector<json>& drafts) {
    const json* last = nullptr;
    for (const json& draft : drafts)
        if (draft.contains("password") && draft["password"].is_object()) last = &draft;
    if (!last || (last->contains("sent") && (*last)["sent"] == true)) return 0;
    return last->contains("fields") && (*last)["fields"].is_array() ? (*last)["fields"].size() : 0;
}

// A text of several lines as it may be shown: each line escaped, the line ends kept.
std::string EscapeLines(const std::string& text) {
    std::string out;
    for (size_t at = 0; at <= text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        out += EscapeControls(text.substr(at, end - at));
        if (end < text.size()) out += '\n';
        at = end + 1;
    }
    return out;
}

// What an administrator should know of an origin before trusting a catalog entry to it: http
// lets the network read every password typed there, and a host with letters outside ASCII can
// look like another one.
std::vector<std::string> OriginWarnings(const std::wstring& origin) {
    std::vector<std::string> warnings;
    if (origin.compare(0, 7, L"http://") == 0)
        warnings.push_back(Narrow(origin) + " is not https: anyone on the network can read what is typed there");
    const bool foreign = std::any_of(origin.begin(), origin.end(), [](wchar_t c) { return c > 0x7E; }) ||
                         origin.find(L"xn--") != std::wstring::npos;
    if (foreign)
        warnings.push_back(Narrow(origin) + " has letters outside ASCII in its host: make sure it is the site you mean, "
                           "not one that only looks like it");
    return warnings;
}

struct Recording {
    std::wstring origin;      // the one origin recorded (given, or confirmed)
    std::vector<json> drafts;
    bool stopped = false;
};

// Waits for the drafts of recorder `id` until a password field has been seen on the origin being
// recorded (and the page's other frames have had their moment), the time runs out or Ctrl+C;
// then takes the recorder and its drafts out of the store, whatever ended the wait. Without a
// given origin, the first one whose page shows a password field is asked about. A login form
// with more fields than user name and password is waited for until it is sent (`withFields`).
Recording AwaitDrafts(const TemplateStore& store, const std::wstring& id, long long seconds, const std::wstring& given,
                      bool yes, bool withFields) {
    const std::string idText = Narrow(id);
    Recording recording;
    recording.origin = given;
    std::vector<std::wstring> declined;
    ULONGLONG settled = 0;
    bool asked = false;
    const WaitEnd end = WaitOnStore(seconds, 250, [&](bool) {
        const std::vector<Draft> drafts = DraftsOf(store, idText);
        if (recording.origin.empty()) {
            for (const Draft& draft : drafts) {
                if (!draft.ownPage || !draft.value.contains("password") ||
                    std::find(declined.begin(), declined.end(), draft.origin) != declined.end())
                    continue;
                for (const std::string& warning : OriginWarnings(draft.origin)) Err("warning: " + EscapeControls(warning) + "\n");
                if (yes || Ask("a login form was seen on " + EscapeControls(Narrow(draft.origin)) + ": record this site?")) {
                    recording.origin = draft.origin;
                } else {
                    declined.push_back(draft.origin);
                }
                break;
            }
        }
        const std::vector<json> values = ValuesOf(drafts, recording.origin);
        const size_t unsent = withFields ? UnsentFields(values) : 0;
        if (unsent && !asked) {
            Out("the login form has " + std::to_string(unsent) + " more fields: sign in once (send the form), so that "
                "what they hold is recorded\n");
            asked = true;
        }
        if (!recording.origin.empty() && HoldsPasswordField(values) && !unsent) {
            if (!settled) settled = GetTickCount64() + kSettleMs;
            else if (GetTickCount64() >= settled) return true;
        }
        return false;
    });
    const std::vector<Draft> drafts = DraftsOf(store, idText);
    RemoveFromStore(store, id);
    std::vector<std::wstring> others;
    for (const Draft& draft : drafts)
        if ((draft.origin != recording.origin || !draft.ownPage) &&
            std::find(others.begin(), others.end(), draft.origin) == others.end())
            others.push_back(draft.origin);
    for (const std::wstring& other : others)
        Out("ignored: drafts written by pages of " + EscapeControls(Narrow(other)) +
            (other == recording.origin ? " that name a page of another site\n" : ", which is not the site recorded\n"));
    recording.drafts = ValuesOf(drafts, recording.origin);
    recording.stopped = end == WaitEnd::kInterrupted;
    return recording;
}

// The entry indented as one entry of a catalog array.
std::string EntryText(const nlohmann::ordered_json& entry) {
    std::string text = "  " + WriteTemplateJson(entry, true);
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 3)) text.insert(at + 1, "  ");
    return text;
}

// Adds the entry at the end of a catalog file (made when there is none), leaving the rest of the
// file as the administrator wrote it; refuses a name already there.
bool AddToCatalog(const std::wstring& path, const nlohmann::ordered_json& entry) {
    std::string bytes;
    std::string text;
    const std::string name = entry["name"].get<std::string>();
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        text = "[\n" + EntryText(entry) + "\n]\n";
    } else {
        if (!ReadTextFile(path.c_str(), bytes)) {
            Err(Narrow(path) + ": cannot be read; the entry was not added\n");
            return false;
        }
        json catalog;
        try {
            catalog = ParseTemplateJson(bytes);
        } catch (const json::exception&) {
        }
        if (!catalog.is_array()) {
            Err(Narrow(path) + ": is no catalog (a JSON array of entries); the entry was not added\n");
            return false;
        }
        for (const json& existing : catalog)
            if (existing.is_object() && existing.contains("name") && existing["name"] == name) {
                Err(Narrow(path) + ": has an entry named " + name + " already; record again with --name NAME; the entry "
                    "was not added\n");
                return false;
            }
        size_t close = bytes.rfind(']');
        size_t end = close;
        while (end > 0 && (bytes[end - 1] == ' ' || bytes[end - 1] == '\t' || bytes[end - 1] == '\r' || bytes[end - 1] == '\n'))
            --end;
        text = bytes.substr(0, end) + (catalog.empty() ? "\n" : ",\n") + EntryText(entry) + "\n" + bytes.substr(close);
    }
    // Written aside and moved over, so that a catalog other users read is never half written.
    const std::wstring aside = path + L".new";
    bool ok = false;
    {
        unique_file file(CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ok = file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
             written == text.size();
    }
    if (!ok || !MoveFileExW(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(aside.c_str());
        Err(Narrow(path) + ": cannot be written; the entry was not added\n");
        return false;
    }
    return true;
}

int Record(Arguments arguments) {
    std::wstring nameText, into, originText;
    long long seconds = kDefaultRecordSeconds;
    bool wrong = false, badWait = false;
    const bool named = TakeOption(arguments, L"--name", &nameText, &wrong);
    TakeSeconds(arguments, L"--wait", kMaxRecordSeconds, &seconds, &wrong, &badWait);
    const bool hasInto = TakeOption(arguments, L"--into", &into, &wrong);
    const bool hasOrigin = TakeOption(arguments, L"--origin", &originText, &wrong);
    const bool yes = TakeSwitch(arguments, L"--yes");
    const bool onlyCredentials = TakeSwitch(arguments, L"--only-credentials");
    if (badWait) return 2;
    if (wrong || !arguments.empty() || (named && nameText.empty()) || (hasInto && into.empty())) return kWrongUse;
    if (named && nameText.find(kAccountSeparator) != std::wstring::npos) {
        Err("NAME must not contain \"#\" (it names the entry's credential, Velnor:NAME)\n");
        return 2;
    }
    std::wstring origin;
    if (hasOrigin) {
        origin = OriginOfUrl(originText);
        if (origin.empty()) {
            Err("--origin must name a site, for example https://intranet.example.com\n");
            return 2;
        }
        for (const std::string& warning : OriginWarnings(origin)) Err("warning: " + EscapeControls(warning) + "\n");
    }
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    if (!store.is_open()) {
        Err(std::string("nothing was recorded: ") + kNotHeld);
        return 1;
    }

    const std::wstring id = NewStoreId();
    if (id.empty()) {
        Err("nothing was recorded: the system's random number generator failed\n");
        return 1;
    }
    SecretText recorder;
    const std::wstring recorderText = RecorderRecordText(Narrow(id), SecondsSince1970() + seconds, Narrow(nameText));
    recorder.Append(recorderText.data(), recorderText.size());
    std::string failure;
    if (!RewriteStore(store, [](std::wstring_view) { return false; }, &recorder, &failure)) {
        Err(failure + "; nothing was recorded\n");
        return 1;
    }
    Out("recording for " + std::to_string(seconds) + " seconds: open the site's login page in Internet Explorer.\n"
        "Where it asks for the user name first, type it and go on to the password page. Where the form\n"
        "has more fields (a domain, a server, \"remember me\"), set them and sign in: what they hold is\n"
        "recorded when you send the form. The user name and password you type are never recorded.\n");

    const Recording recording = AwaitDrafts(store, id, seconds, origin, yes, !onlyCredentials);
    const std::vector<json>& drafts = recording.drafts;
    if (!drafts.empty()) {
        Out("seen on " + EscapeControls(Narrow(recording.origin)) + ":\n");
        PrintDrafts(drafts);
    }
    const std::string name = named ? Narrow(nameText)
                                   : EntryNameForSite(drafts.empty() ? std::string() : drafts.back().value("page", std::string()));
    RecordedEntry recorded;
    std::string why;
    if (!EntryFromDrafts(drafts, name, onlyCredentials, &recorded, &why)) {
        Out("nothing recorded: " + EscapeControls(why) +
            (recording.origin.empty() ? std::string() : " on " + EscapeControls(Narrow(recording.origin))) +
            (recording.stopped ? " before recording was stopped\n" : " within " + std::to_string(seconds) + " seconds\n"));
        return kExitNothingSeen;
    }
    for (const std::string& note : recorded.notes) Out("note: " + EscapeControls(note) + "\n");
    const std::string entryText = WriteTemplateJson(recorded.entry, true);
    Out("catalog entry for " + EscapeControls(Narrow(recording.origin)) + ":\n" + EscapeLines(entryText) + "\n");
    const std::vector<std::string> problems = CheckCatalogText("[" + entryText + "]");
    for (const std::string& problem : problems) Err("the recorded entry is not valid: " + EscapeControls(problem) + "\n");
    if (!problems.empty()) return 1;
    const std::string target = recorded.entry["credential"].get<std::string>();
    if (hasInto) {
        // Every user of the catalog will sign on with it: the administrator says so first.
        if (!yes && !Ask("add it to " + Narrow(into) + "?")) {
            Out("not added to " + Narrow(into) + "\n");
            return 1;
        }
        if (!AddToCatalog(into, recorded.entry)) return 1;
        Out("added to " + Narrow(into) + "\n");
    }
    Out("to try it: VelnorSSOStore cred set " + target + " USERNAME, then VelnorSSOStore launch " + name +
        (hasInto ? " --catalog " + Narrow(into) : std::string()) + "\n");
    return 0;
}

}  // namespace

const std::vector<ToolCommand>& RecordCommands() {
    static const std::vector<ToolCommand> commands = {
        {"record",
         "  record [--name NAME] [--origin SITE] [--wait SECONDS] [--into CATALOG [--yes]]\n"
         "         [--only-credentials]\n"
         "                         record a sign-on on the site's login page: its catalog entry\n",
         "usage: VelnorSSOStore record [--name NAME] [--origin SITE] [--wait SECONDS] [--into CATALOG]\n"
         "                              [--yes] [--only-credentials]\n\n"
         "Records where a site's login fields are, on the login page itself: while it runs (120\n"
         "seconds unless --wait says otherwise), every page Internet Explorer shows with a login\n"
         "form writes a draft of where its user name field, password field, submit control and\n"
         "other fields are. Open the login page; for a login of two pages, type the user name and\n"
         "go on to the password page. Where the form has more fields (a domain, a server, \"remember\n"
         "me\"), set them and send the form: the entry sets them as they were sent, before the\n"
         "password (--only-credentials leaves them out). Never recorded: the user name and password\n"
         "typed, a field whose name says secret or one-time code, a value that looks like a token.\n"
         "The entry launches the login page's address with its query, but without parameters that\n"
         "look like one-time values. Recording ends soon after a password field was seen, or after\n"
         "the form was sent where it has more fields.\n"
         "The drafts become one catalog entry (NAME, else a name from the site's host), which is\n"
         "printed, checked, and with --into added to that catalog file (made when there is none;\n"
         "an entry of the same name there is refused). The store must be held, as for launch.\n"
         "The recorder is taken out of the store when recording ends, also on Ctrl+C.\n"
         "One site is recorded: SITE (https://host[:port]) with --origin, else the first site that\n"
         "shows a login form, once you confirm it. Drafts of every other site are ignored: any page\n"
         "can write one. Before the entry is added to CATALOG you are asked; --yes answers yes to\n"
         "both questions (for scripts, with --origin).\n"
         "Exit code 0 recorded, 1 not (nothing changed), 2 wrong use, 3 no login form was seen.\n",
         [](const Arguments& a) { return Record(a); }},
    };
    return commands;
}
