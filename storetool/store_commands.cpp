// The store commands: check, put, get, debug, match and hold. They open
// "Local\VelnorSSOTemplates" by name and serialise their accesses with the browser's through the
// same store lock.
#include "common/text.h"
#include "common/unique_owner.h"
#include "storetool/commands.h"
#include "storetool/tool_output.h"
#include "logging/settings.h"
#include "templates/catalog.h"
#include "templates/credentials.h"
#include "templates/patterns.h"
#include "templates/template_check.h"
#include "templates/template_isolation.h"
#include "templates/template_store.h"
#include "templates/template_text.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

using nlohmann::json;

const char kNotHeld[] =
    "the template store is not open in this session: start Internet Explorer, or run \"VelnorSSOStore agent\" "
    "(or \"VelnorSSOStore hold\"), first\n";

namespace {

// Reads and checks a template file; prints its problems. False when it is not valid.
bool LoadChecked(const wchar_t* path, std::string& bytes) {
    if (!ReadTextFile(path, bytes)) {
        Err(Narrow(path) + ": cannot be read\n");
        return false;
    }
    const std::vector<std::string> problems = CheckTemplateText(bytes);
    for (const std::string& problem : problems) Err(Narrow(path) + ": " + problem + "\n");
    return problems.empty();
}

void Warn(const wchar_t* path, const std::string& bytes, bool broadPatterns = true) {
    for (const std::string& warning : TemplateWarnings(bytes, broadPatterns))
        Err(Narrow(path) + ": warning: " + warning + "\n");
}

int CheckCatalogFile(const wchar_t* path) {
    std::string bytes;
    if (!ReadTextFile(path, bytes)) {
        Err(Narrow(path) + ": cannot be read\n");
        return 1;
    }
    const std::vector<std::string> problems = CheckCatalogText(bytes);
    for (const std::string& problem : problems) Err(Narrow(path) + ": " + problem + "\n");
    if (!problems.empty()) return 1;
    for (const std::string& warning : CatalogWarnings(bytes)) Err(Narrow(path) + ": warning: " + warning + "\n");
    Out(Narrow(path) + ": valid catalog\n");
    return 0;
}

int Check(const wchar_t* path) {
    std::string bytes;
    if (ReadTextFile(path, bytes) && LooksLikeCatalog(bytes)) return CheckCatalogFile(path);
    if (!LoadChecked(path, bytes)) return 1;
    // Under isolation a template no page is given is a mistake, not a risk.
    const bool isolation = ReadTemplateIsolationSetting();
    const std::vector<std::string> broad = isolation ? BroadPatternMessages(bytes) : std::vector<std::string>();
    for (const std::string& problem : broad) Err(Narrow(path) + ": " + problem + "\n");
    Warn(path, bytes, !isolation);
    if (!broad.empty()) return 1;
    Out(Narrow(path) + ": valid\n");
    return 0;
}

int Put(const wchar_t* path) {
    std::string bytes;
    if (!LoadChecked(path, bytes)) {
        Err("nothing was stored\n");
        return 1;
    }
    Warn(path, bytes);
    const std::wstring text = Utf8ToWide(bytes);
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    if (!store.is_open()) {
        Err(kNotHeld);
        return 1;
    }
    TemplateStore::View view = store.Access();
    if (!view) {
        Err("the store could not be written\n");
        return 1;
    }
    // Said because put replaces the whole store: templates that "launch" added, or that another
    // administrator put there, are gone afterwards.
    const std::shared_ptr<const ParsedTemplates> replaced =
        ParseTemplates(std::wstring_view(view.Text(), view.TextLength()));
    if (!view.WriteText(text.c_str())) {
        Err("the store could not be written\n");
        return 1;
    }
    const size_t count = replaced->templates.size();
    Out("stored " + std::to_string(text.size()) + " characters, replacing " +
        (replaced->valid ? std::to_string(count) + (count == 1 ? " template" : " templates")
                         : std::string("text that was no template array")) +
        "\n");
    return 0;
}

int Get(bool pretty) {
    std::wstring text;
    LONG debugTime = 0;
    {
        const TemplateStore store(TemplateStore::Mode::kExistingOnly);
        if (const TemplateStore::View view = store.Access()) {
            text = view.ReadText();
            debugTime = view.DebugTime();
        }
    }
    Out("DebugTime: " + std::to_string(debugTime) + "\n");
    std::string utf8 = WideToUtf8(text);
    if (pretty && !utf8.empty()) {
        // Any page can write the store. Indenting is recursive, so text nested deeper than any
        // template is shown as it is rather than exhausting the stack.
        if (NestingDepth(utf8) > kMaxJsonDepth) {
            Err("the stored text is nested deeper than " + std::to_string(kMaxJsonDepth) + " levels; shown as it is\n");
        } else {
            try {
                utf8 = WriteTemplateJson(ParseTemplateJson(utf8), true);
            } catch (const json::exception&) {
                Err("the stored text is not valid JSON; shown as it is\n");
            }
        }
    }
    Out(utf8 + (utf8.empty() ? "" : "\n"));
    return 0;
}

int Debug(const wchar_t* secondsText) {
    wchar_t* end = nullptr;
    const long long seconds = wcstoll(secondsText, &end, 10);
    if (!*secondsText || *end || seconds < INT_MIN || seconds > INT_MAX) {
        Err("SECONDS must be a whole number\n");
        return 2;
    }
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    if (!store.is_open()) {
        Err(kNotHeld);
        return 1;
    }
    TemplateStore::View view = store.Access();
    if (!view) return 1;
    view.SetDebugTime(static_cast<LONG>(seconds));
    Out("DebugTime: " + std::to_string(seconds) + "\n");
    return 0;
}

int Match(const wchar_t* path, const std::wstring& url, const wchar_t* title) {
    std::string bytes;
    if (!LoadChecked(path, bytes)) return 1;
    const json templates = ParseTemplateJson(bytes);
    // The templates as the browser's side reads them: what a page reads under isolation, and the
    // Basic records the content script makes of them.
    const std::shared_ptr<const ParsedTemplates> parsed = ParseTemplates(Utf8ToWide(bytes));

    Out("templates for " + WideToUtf8(url) + (title ? ", title \"" + Narrow(title) + "\"" : std::string()) + ":\n");
    for (size_t i = 0; i < templates.size(); ++i) {
        const json& t = templates[i];
        const std::wstring pattern = ScriptString(t["url"]);
        std::string verdict;
        if (!MaskedPatternMatches(pattern, url)) {
            verdict = "does not apply (url)";
        } else if (!t.contains("title") || t["title"].is_null()) {
            verdict = "applies";
        } else if (!title) {
            verdict = "applies if the title matches \"" + t["title"].get<std::string>() + "\"";
        } else {
            verdict = MaskedPatternMatches(ScriptString(t["title"]), title) ? "applies" : "does not apply (title)";
        }
        const PatternReach reach = ReachOf(pattern);
        if (reach == PatternReach::kManySites) verdict += "; \"*\" is not a glob: the pattern matches other sites too";
        if (reach == PatternReach::kNever) verdict += "; the pattern can never match a page";
        Out("  " + std::to_string(i + 1) + " " + WideToUtf8(pattern) + ": " + verdict + "\n");
    }

    // What the page would read with TemplateIsolation on (unless it is a trusted portal's).
    const std::vector<size_t> own = PageTemplateIndexes(*parsed, url);
    Out("under template isolation a page at " + WideToUtf8(url) + " reads " +
        (own.empty() ? std::string("no template") : own.size() == 1 ? "template" : "templates"));
    for (size_t i = 0; i < own.size(); ++i) Out((i ? ", " : " ") + std::to_string(own[i] + 1));
    Out("\n");

    Out("Basic credentials for a navigation to " + WideToUtf8(url) + ":\n");
    const std::vector<CredentialRecord> records = StoredBasicRecords(*parsed);
    const CredentialRecord* answer = nullptr;
    for (const CredentialRecord& record : records) {
        // As the browser is answered: the pattern must also hold the navigation's whole origin.
        const bool matches = BasicRecordAnswers(record.pattern, url);
        Out("  " + WideToUtf8(record.pattern) + " (user " + WideToUtf8(record.userName) + "): " +
            (matches ? "matches" : "does not match") + "\n");
        if (matches) answer = &record;
    }
    Out(answer ? "  the browser is answered with user " + WideToUtf8(answer->userName) + "\n"
               : "  the browser is not answered\n");
    return 0;
}

HANDLE g_stop = nullptr;

BOOL WINAPI OnControl(DWORD) {
    SetEvent(g_stop);
    return TRUE;
}

int Hold() {
    const TemplateStore store(TemplateStore::Mode::kCreateOrOpen);
    if (!store.is_open()) {
        Err("the template store could not be opened\n");
        return 1;
    }
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnControl, TRUE);
    Out("holding the template store; press Ctrl+C to stop\n");
    WaitForSingleObject(g_stop, INFINITE);
    return 0;
}


int RunCheck(const Arguments& a) {
    if (a.size() == 2 && a[0] == L"--catalog") return CheckCatalogFile(a[1].c_str());
    if (a.size() != 1) return kWrongUse;
    return Check(a[0].c_str());
}

int RunPut(const Arguments& a) { return a.size() == 1 ? Put(a[0].c_str()) : kWrongUse; }

int RunGet(const Arguments& a) {
    if (a.empty()) return Get(false);
    if (a.size() == 1 && a[0] == L"--pretty") return Get(true);
    return kWrongUse;
}

int RunDebug(const Arguments& a) { return a.size() == 1 ? Debug(a[0].c_str()) : kWrongUse; }

int RunMatch(const Arguments& a) {
    if (a.size() != 2 && a.size() != 3) return kWrongUse;
    return Match(a[0].c_str(), a[1], a.size() == 3 ? a[2].c_str() : nullptr);
}

int RunHold(const Arguments& a) { return a.empty() ? Hold() : kWrongUse; }

}  // namespace

const std::vector<ToolCommand>& StoreCommands() {
    static const std::vector<ToolCommand> commands = {
        {"check",
         "  check FILE             check a template file or a catalog; exit code 0 when it is valid\n",
         "usage: VelnorSSOStore check FILE\n"
         "       VelnorSSOStore check --catalog FILE\n\n"
         "Checks FILE (UTF-8 JSON) against the template format: JSON syntax (with line and column),\n"
         "required fields, find and action types with their fields, number fields, and the size\n"
         "limit of the store (524,285 UTF-16 units). Prints one message per problem.\n"
         "A \"*\" in a url pattern is no glob: a pattern whose part before its first \"*\" does\n"
         "not hold one whole site (https://host/) matches every site whose address starts with\n"
         "that part. With TemplateIsolation on such a pattern is an error (no page is given it),\n"
         "otherwise a warning. Warns about patterns that can never match a page.\n"
         "A FILE whose entries carry \"template\" (or any FILE given with --catalog) is checked as\n"
         "a sign-on catalog: its entries' fields, their templates as a launch gives them, and that\n"
         "it carries no password (values come from \"valueFrom\").\n"
         "Exit code 0 when the file is valid, 1 otherwise.\n",
         RunCheck},
        {"put",
         "  put FILE               check a template file, then store it in place of the stored text\n",
         "usage: VelnorSSOStore put FILE\n\n"
         "Checks FILE like \"check\", then writes its text into the template store, replacing what\n"
         "was there (it says how many templates it replaced; \"launch\" adds one beside them instead).\n"
         "An invalid or over-size file is refused and the store keeps its text.\n"
         "The store lives only while some program of the session holds it open (a browser,\n"
         "\"VelnorSSOStore agent\" or \"VelnorSSOStore hold\"); without one, nothing is written and\n"
         "the exit code is 1.\n",
         RunPut},
        {"get",
         "  get [--pretty]         show the stored templates and DebugTime\n",
         "usage: VelnorSSOStore get [--pretty]\n\n"
         "Prints DebugTime and the stored template text (indented with --pretty).\n",
         RunGet},
        {"debug",
         "  debug SECONDS          set DebugTime (0 switches the content script's tracing off)\n",
         "usage: VelnorSSOStore debug SECONDS\n\n"
         "Sets DebugTime, the number of seconds the content script traces what it does to the\n"
         "browser's console on pages loaded from now on. Written from here, the value stays until\n"
         "it is changed again: run \"VelnorSSOStore debug 0\" to switch tracing off.\n",
         RunDebug},
        {"match",
         "  match FILE URL [TITLE] tell which templates of FILE apply to a page, and which Basic\n"
         "                         credentials would answer a navigation to URL\n",
         "usage: VelnorSSOStore match FILE URL [TITLE]\n\n"
         "Tells which templates of FILE apply to a page at URL (and with TITLE, when given) under\n"
         "the pattern rule of the content script (and which patterns reach other sites too), and\n"
         "which HTTP Basic credentials of FILE would answer the browser during a top-level\n"
         "navigation to URL (the last matching record whose pattern holds URL's origin wins).\n"
         "Also tells which templates a page at URL reads with TemplateIsolation on.\n",
         RunMatch},
        {"hold",
         "  hold                   keep the store open until interrupted (Ctrl+C)\n",
         "usage: VelnorSSOStore hold\n\n"
         "Creates or opens the template store and keeps it open until interrupted, so that what\n"
         "\"put\" writes survives while no browser is running.\n",
         RunHold},
    };
    return commands;
}
