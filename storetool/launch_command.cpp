// The launch command: a sign-on from the catalog. The entry's template, with the user's
// credential filled in, goes into the store beside the templates already there, with an expiry
// after which the content script drops it unused; then the browser opens the entry's page.
// The password exists only in zeroed memory (SecretText) and in the store itself: never in a
// file, on a command line, in the environment or on the console.
#include "common/secret_text.h"
#include "common/text.h"
#include "common/unique_owner.h"
#include "storetool/catalog_source.h"
#include "storetool/credential_vault.h"
#include "storetool/tool_output.h"
#include "templates/template_expiry.h"
#include "templates/template_store.h"
#include "templates/template_text.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <cwchar>
#include <string_view>

namespace {

constexpr wchar_t kInternetExplorerAppPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE";
constexpr long long kMaxWaitSeconds = 86400;
constexpr int kExitNotRun = 3;   // --wait: the time ran out before the template ran

// Names this launch's template in the store, so that --wait can see it leave and a failed
// launch can take it out again. Unique within the session: process id and the tick counter.
std::wstring NewLaunchId() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    wchar_t id[64];
    _snwprintf(id, ARRAYSIZE(id), L"%lx-%llx", GetCurrentProcessId(), static_cast<unsigned long long>(counter.QuadPart));
    id[ARRAYSIZE(id) - 1] = L'\0';
    return id;
}

void AppendJsonString(SecretText& out, const wchar_t* text, size_t length) {
    out.Append(L'"');
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (c == L'"' || c == L'\\') {
            out.Append(L'\\');
            out.Append(c);
        } else if (c < 0x20 || c == 0x2028 || c == 0x2029) {
            // U+2028 and U+2029 end a line in the legacy engine's eval of a JSON text.
            wchar_t escaped[8];
            _snwprintf(escaped, ARRAYSIZE(escaped), L"\\u%04x", static_cast<unsigned>(c));
            out.Append(escaped, 6);
            SecureZeroMemory(escaped, sizeof(escaped));
        } else {
            out.Append(c);
        }
    }
    out.Append(L'"');
}

// The launched template's text with the password in place of its token.
void FillPassword(SecretText& out, const std::wstring& resolved, const std::wstring& token, const SecretText& password) {
    const std::wstring quoted = L"\"" + token + L"\"";
    size_t at = 0;
    for (size_t found; (found = resolved.find(quoted, at)) != std::wstring::npos; at = found + quoted.size()) {
        out.Append(resolved.data() + at, found - at);
        AppendJsonString(out, password.data(), password.size());
    }
    out.Append(resolved.data() + at, resolved.size() - at);
}

// The store text with `entry` added after its last template; every template already there
// stays byte for byte. False when the stored text is no template array.
bool AddToStoreText(std::wstring_view stored, const SecretText& entry, SecretText& out) {
    if (!ParseTemplates(stored)->valid) return false;
    const std::vector<std::pair<size_t, size_t>> spans = ArrayEntrySpans(stored);
    if (spans.empty()) {
        out.Append(L'[');
        out.Append(entry.data(), entry.size());
        out.Append(L']');
        return true;
    }
    const size_t end = spans.back().first + spans.back().second;
    out.Append(stored.data(), end);
    out.Append(L',');
    out.Append(entry.data(), entry.size());
    out.Append(stored.data() + end, stored.size() - end);
    return true;
}

// Whether a template of this launch is in the store; read in place, so that the stored
// passwords are not copied.
bool InStore(const TemplateStore& store, const std::wstring& launchId) {
    const TemplateStore::View view = store.Access();
    if (!view) return false;
    return std::wstring_view(view.Text(), view.TextLength()).find(L"\"" + launchId + L"\"") != std::wstring_view::npos;
}

// Takes this launch's template out again (a browser that did not start, a wait that ran out).
bool RemoveFromStore(const TemplateStore& store, const std::wstring& launchId) {
    TemplateStore::View view = store.Access();
    if (!view) return false;
    const std::wstring_view stored(view.Text(), view.TextLength());
    const std::wstring marker = L"\"" + launchId + L"\"";
    const std::vector<std::pair<size_t, size_t>> spans = ArrayEntrySpans(stored);
    for (size_t i = 0; i < spans.size(); ++i) {
        if (stored.substr(spans[i].first, spans[i].second).find(marker) == std::wstring_view::npos) continue;
        // The entry and the comma that joins it to its neighbour.
        size_t from = spans[i].first, to = spans[i].first + spans[i].second;
        if (i > 0) from = spans[i - 1].first + spans[i - 1].second;
        else if (i + 1 < spans.size()) to = spans[i + 1].first;
        SecretText rest;
        rest.Append(stored.data(), from);
        rest.Append(stored.data() + to, stored.size() - to);
        return view.WriteText(rest.c_str());
    }
    return false;
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool InternetExplorerPath(std::wstring* path) {
    wchar_t buffer[MAX_PATH * 2];
    DWORD bytes = sizeof(buffer);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kInternetExplorerAppPath, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr,
                     buffer, &bytes) != ERROR_SUCCESS) {
        // Some systems (Wine among them) register no App Path: the browser's own folder under
        // Program Files, as the system names it, not as the environment does.
        PWSTR programFiles = nullptr;
        if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &programFiles))) return false;
        const std::wstring fallback = std::wstring(programFiles) + L"\\Internet Explorer\\iexplore.exe";
        CoTaskMemFree(programFiles);
        if (!IsFile(fallback)) return false;
        *path = fallback;
        return true;
    }
    std::wstring found = buffer;
    if (found.size() >= 2 && found.front() == L'"' && found.back() == L'"') found = found.substr(1, found.size() - 2);
    // Only a full path: a bare name would be looked up in the current folder first.
    if (found.size() < 3 || found[1] != L':' || found[2] != L'\\') return false;
    if (!IsFile(found)) return false;
    *path = found;
    return true;
}

bool StartBrowser(const std::wstring& browserCommand, const std::wstring& url, std::string* failure) {
    std::wstring application, commandLine;
    if (browserCommand.empty()) {
        if (!InternetExplorerPath(&application)) {
            *failure = "Internet Explorer is not installed on this machine (no App Paths\\IEXPLORE.EXE, no iexplore.exe in Program Files)";
            return false;
        }
        commandLine = L"\"" + application + L"\" " + url;
    } else {
        commandLine = browserCommand + L" \"" + url + L"\"";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
        *failure = "the browser could not be started (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    unique_handle thread(process.hThread), child(process.hProcess);
    return true;
}

// The credential of the entry to use: the one with --account, or the only one.
bool ChooseCredential(const CatalogEntry& entry, const std::wstring& account, VaultEntry* chosen) {
    std::vector<VaultEntry> accounts;
    for (const VaultEntry& credential : ListVaultCredentials(entry.credential))
        if (IsAccountOf(credential.target, entry.credential)) accounts.push_back(credential);
    const std::string target = Narrow(entry.credential);
    if (!account.empty()) {
        for (const VaultEntry& credential : accounts) {
            const size_t hash = credential.target.find(kAccountSeparator);
            const std::wstring suffix = hash == std::wstring::npos ? std::wstring() : credential.target.substr(hash + 1);
            if (_wcsicmp(credential.userName.c_str(), account.c_str()) == 0 || _wcsicmp(suffix.c_str(), account.c_str()) == 0) {
                *chosen = credential;
                return true;
            }
        }
        Err("no credential of " + target + " for account " + Narrow(account) + ": run VelnorSSOStore cred set " + target +
            "#" + Narrow(account) + " " + Narrow(account) + "\n");
        return false;
    }
    if (accounts.empty()) {
        Err("no credential " + target + " for this user: run VelnorSSOStore cred set " + target + " USERNAME\n");
        return false;
    }
    if (accounts.size() > 1) {
        Err("sign-on " + entry.name + " has several accounts; choose one with --account USERNAME:\n");
        for (const VaultEntry& credential : accounts)
            Err("  " + Narrow(credential.userName) + "  (" + Narrow(credential.target) + ")\n");
        return false;
    }
    *chosen = accounts.front();
    return true;
}

int Launch(Arguments arguments) {
    std::wstring givenCatalog, account, browser, waitText;
    bool wrong = false;
    TakeOption(arguments, L"--catalog", &givenCatalog, &wrong);
    TakeOption(arguments, L"--account", &account, &wrong);
    const bool hasBrowser = TakeOption(arguments, L"--browser", &browser, &wrong);
    const bool hasWait = TakeOption(arguments, L"--wait", &waitText, &wrong);
    const bool noBrowser = TakeSwitch(arguments, L"--no-browser");
    if (wrong || arguments.size() != 1 || (hasBrowser && (noBrowser || browser.empty()))) return kWrongUse;
    long long waitSeconds = 0;
    if (hasWait) {
        wchar_t* end = nullptr;
        waitSeconds = wcstoll(waitText.c_str(), &end, 10);
        if (waitText.empty() || *end || waitSeconds < 1 || waitSeconds > kMaxWaitSeconds) {
            Err("--wait takes a whole number of seconds from 1 to " + std::to_string(kMaxWaitSeconds) + "\n");
            return 2;
        }
    }
    const std::string name = Narrow(arguments[0]);

    LoadedCatalog catalog;
    if (!LoadCatalog(givenCatalog, &catalog)) return 1;
    const CatalogEntry* entry = FindCatalogEntry(catalog, name);
    if (!entry) {
        Err("no sign-on \"" + name + "\" in the catalog " + Narrow(catalog.path) +
            ": run VelnorSSOStore catalog to see its entries\n");
        return 1;
    }
    VaultEntry credential;
    if (!ChooseCredential(*entry, account, &credential)) return 1;

    // Nothing that vanishes with this process: the template must go to a store someone holds.
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    if (!store.is_open()) {
        Err(std::string("the sign-on was not prepared: ") + kNotHeld);
        return 1;
    }

    const std::wstring launchId = NewLaunchId();
    const std::wstring token = L"velnor-password-" + launchId;
    const long long expires = SecondsSince1970() + entry->lifetime;
    {
        SecretText password;
        VaultEntry read;
        if (!ReadVaultCredential(credential.target, &read, &password)) {
            Err("the credential " + Narrow(credential.target) + " cannot be read: run VelnorSSOStore cred set " +
                Narrow(credential.target) + " USERNAME\n");
            return 1;
        }
        // Set by another program, a credential can hold what the store cannot carry: a NUL would
        // end the store's text inside the template, a CR would split a Basic record.
        for (size_t i = 0; i < password.size(); ++i)
            if (password.data()[i] == L'\0' || password.data()[i] == L'\r' || password.data()[i] == L'\n') {
                Err("the password of " + Narrow(credential.target) + " holds a line break or NUL, which a sign-on "
                    "cannot carry: set it again with VelnorSSOStore cred set " + Narrow(credential.target) + " " +
                    Narrow(read.userName) + "\n");
                return 1;
            }
        SecretText resolved;
        FillPassword(resolved, ResolveLaunchTemplate(*entry, read.userName, token, expires, launchId), token, password);
        password.Clear();

        TemplateStore::View view = store.Access();
        if (!view) {
            Err("the store could not be written; nothing was changed\n");
            return 1;
        }
        SecretText updated;
        if (!AddToStoreText(std::wstring_view(view.Text(), view.TextLength()), resolved, updated)) {
            Err("the store holds text that is no template array (see VelnorSSOStore get); nothing was changed\n");
            return 1;
        }
        if (updated.size() > kMaxTemplateTextLength || !view.WriteText(updated.c_str())) {
            Err("the store has no room for the sign-on (at most " + std::to_string(kMaxTemplateTextLength) +
                " characters); nothing was changed\n");
            return 1;
        }
    }
    Out("prepared sign-on " + name + " for user " + Narrow(credential.userName) + " (its template expires in " +
        std::to_string(entry->lifetime) + " seconds unless a page uses it)\n");

    if (!noBrowser) {
        std::string failure;
        if (!StartBrowser(browser, entry->launch, &failure)) {
            RemoveFromStore(store, launchId);
            Err(failure + "; the sign-on was taken out of the store again\n");
            return 1;
        }
        Out("opened " + Narrow(entry->launch) + "\n");
    }
    if (!hasWait) return 0;

    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(waitSeconds) * 1000;
    while (InStore(store, launchId)) {
        if (GetTickCount64() >= deadline) {
            // Not left behind: an unused password should not wait in the store for a page.
            RemoveFromStore(store, launchId);
            Out("the sign-on did not run within " + std::to_string(waitSeconds) +
                " seconds; its template was taken out of the store\n");
            return kExitNotRun;
        }
        Sleep(200);
    }
    Out("the sign-on ran (its template left the store)\n");
    return 0;
}

}  // namespace

const std::vector<ToolCommand>& LaunchCommands() {
    static const std::vector<ToolCommand> commands = {
        {"launch",
         "  launch NAME [--account USERNAME] [--no-browser] [--wait SECONDS]\n"
         "                         sign on to a catalog entry: its template with your credential\n"
         "                         goes into the store, then Internet Explorer opens its page\n",
         "usage: VelnorSSOStore launch NAME [--account USERNAME] [--no-browser | --browser COMMAND]\n"
         "                              [--wait SECONDS] [--catalog FILE]\n\n"
         "Prepares the sign-on NAME of the catalog: fills its template with your credential from\n"
         "Credential Manager (the entry's \"credential\" target, or with --account one of its\n"
         "accounts, Velnor:NAME#USERNAME) and adds it to the template store beside the templates\n"
         "already there, with an expiry (\"expires\", the entry's \"lifetime\", 120 seconds unless it\n"
         "says otherwise) after which a page drops it unused. Then it opens the entry's address in\n"
         "Internet Explorer, or with --browser in COMMAND (the address is added as its last\n"
         "argument), unless --no-browser is given.\n"
         "With --wait it waits until the template has run (it left the store) or SECONDS have\n"
         "passed; then it takes the template out of the store again.\n"
         "The store must be held (the agent, a browser, or \"hold\"): otherwise nothing is prepared.\n"
         "Exit code 0 prepared (with --wait: ran), 1 not prepared (nothing changed), 2 wrong use,\n"
         "3 with --wait: the time ran out.\n",
         [](const Arguments& a) { return Launch(a); }},
    };
    return commands;
}
