// VelnorSSOStore: puts sign-on templates into the session's template store, checks them first,
// and shows what is there. It opens "Local\VelnorSSOTemplates" by name and serialises its
// accesses with the browser's through the same store lock.
#include "common/text.h"
#include "common/unique_owner.h"
#include "logging/settings.h"
#include "templates/credentials.h"
#include "templates/patterns.h"
#include "templates/template_check.h"
#include "templates/template_isolation.h"
#include "templates/template_store.h"
#include "templates/template_text.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

using nlohmann::json;

namespace {

const char kUsage[] =
    "usage: VelnorSSOStore COMMAND [ARGUMENTS]\n"
    "\n"
    "Puts sign-on templates into the template store of this logon session, checks them first,\n"
    "and shows what is there.\n"
    "\n"
    "commands:\n"
    "  check FILE             check a template file; exit code 0 when it is valid\n"
    "  put FILE               check a template file, then store it\n"
    "  get [--pretty]         show the stored templates and DebugTime\n"
    "  debug SECONDS          set DebugTime (0 switches the content script's tracing off)\n"
    "  match FILE URL [TITLE] tell which templates of FILE apply to a page, and which Basic\n"
    "                         credentials would answer a navigation to URL\n"
    "  hold                   keep the store open until interrupted (Ctrl+C)\n"
    "\n"
    "VelnorSSOStore COMMAND --help tells more about one command.\n";

struct Command {
    const char* name;
    const char* help;
};

const Command kCommands[] = {
    {"check",
     "usage: VelnorSSOStore check FILE\n\n"
     "Checks FILE (UTF-8 JSON) against the template format: JSON syntax (with line and column),\n"
     "required fields, find and action types with their fields, number fields, and the size\n"
     "limit of the store (524,285 UTF-16 units). Prints one message per problem.\n"
     "A \"*\" in a url pattern is no glob: a pattern whose part before its first \"*\" does\n"
     "not hold one whole site (https://host/) matches every site whose address starts with\n"
     "that part. With TemplateIsolation on such a pattern is an error (no page is given it),\n"
     "otherwise a warning. Warns about patterns that can never match a page.\n"
     "Exit code 0 when the file is valid, 1 otherwise.\n"},
    {"put",
     "usage: VelnorSSOStore put FILE\n\n"
     "Checks FILE like \"check\", then writes its text into the template store, replacing what\n"
     "was there. An invalid or over-size file is refused and the store keeps its text.\n"
     "The store lives only while some program of the session holds it open (a browser, or\n"
     "\"VelnorSSOStore hold\"); without one, nothing is written and the exit code is 1.\n"},
    {"get",
     "usage: VelnorSSOStore get [--pretty]\n\n"
     "Prints DebugTime and the stored template text (indented with --pretty).\n"},
    {"debug",
     "usage: VelnorSSOStore debug SECONDS\n\n"
     "Sets DebugTime, the number of seconds the content script traces what it does to the\n"
     "browser's console on pages loaded from now on. Written from here, the value stays until\n"
     "it is changed again: run \"VelnorSSOStore debug 0\" to switch tracing off.\n"},
    {"match",
     "usage: VelnorSSOStore match FILE URL [TITLE]\n\n"
     "Tells which templates of FILE apply to a page at URL (and with TITLE, when given) under\n"
     "the pattern rule of the content script (and which patterns reach other sites too), and\n"
     "which HTTP Basic credentials of FILE would answer the browser during a top-level\n"
     "navigation to URL (the last matching record whose pattern holds URL's origin wins).\n"
     "Also tells which templates a page at URL reads with TemplateIsolation on.\n"},
    {"hold",
     "usage: VelnorSSOStore hold\n\n"
     "Creates or opens the template store and keeps it open until interrupted, so that what\n"
     "\"put\" writes survives while no browser is running.\n"},
};

void Write(FILE* stream, const std::string& utf8) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = Utf8ToWide(utf8);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    fwrite(utf8.data(), 1, utf8.size(), stream);
    fflush(stream);
}

void Out(const std::string& text) { Write(stdout, text); }
void Err(const std::string& text) { Write(stderr, text); }

std::string Narrow(const wchar_t* text) { return WideToUtf8(text ? text : L""); }

bool ReadTextFile(const wchar_t* path, std::string& bytes) {
    unique_file file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    bytes.clear();
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    // A UTF-8 byte-order mark is no part of the text.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    return true;
}

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

const char kNotHeld[] =
    "the template store is not open in this session: start Internet Explorer, or run \"VelnorSSOStore hold\", first\n";

void Warn(const wchar_t* path, const std::string& bytes, bool broadPatterns = true) {
    for (const std::string& warning : TemplateWarnings(bytes, broadPatterns))
        Err(Narrow(path) + ": warning: " + warning + "\n");
}

int Check(const wchar_t* path) {
    std::string bytes;
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
    if (!view || !view.WriteText(text.c_str())) {
        Err("the store could not be written\n");
        return 1;
    }
    Out("stored " + std::to_string(text.size()) + " characters\n");
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
        if (NestingDepth(utf8) > kMaxWriteDepth) {
            Err("the stored text is nested deeper than " + std::to_string(kMaxWriteDepth) + " levels; shown as it is\n");
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

bool WantsHelp(int argc, wchar_t** argv) {
    for (int i = 2; i < argc; ++i)
        if (wcscmp(argv[i], L"--help") == 0 || wcscmp(argv[i], L"-h") == 0 || wcscmp(argv[i], L"/?") == 0) return true;
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Output goes out as it is: "get > file" must give back the stored text byte for byte.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc < 2 || wcscmp(argv[1], L"--help") == 0 || wcscmp(argv[1], L"help") == 0) {
        Out(kUsage);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = Narrow(argv[1]);
    for (const Command& known : kCommands) {
        if (command != known.name) continue;
        if (WantsHelp(argc, argv)) {
            Out(known.help);
            return 0;
        }
        if (command == "check" && argc == 3) return Check(argv[2]);
        if (command == "put" && argc == 3) return Put(argv[2]);
        if (command == "get" && (argc == 2 || (argc == 3 && wcscmp(argv[2], L"--pretty") == 0)))
            return Get(argc == 3);
        if (command == "debug" && argc == 3) return Debug(argv[2]);
        if (command == "match" && (argc == 4 || argc == 5)) return Match(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
        if (command == "hold" && argc == 2) return Hold();
        Err(known.help);
        return 2;
    }
    Err("unknown command \"" + command + "\"\n\n" + kUsage);
    return 2;
}
