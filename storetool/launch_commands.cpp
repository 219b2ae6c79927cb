// The launch group: a sign-on from the catalog ("launch"), what became of the sign-ons
// ("status") and a password change ("change").
//
// A launch puts the entry's template, with the user's credential filled in, into the store
// beside the templates already there, with an expiry after which the content script drops it
// unused; then the browser opens the entry's page. A template with "verify" is replaced by an
// outcome record once its steps are done, and the site's next pages settle it: "--wait" reports
// whether the site took the password. A password the site refused is never typed again by
// itself (sign_on_refusals.h).
//
// The passwords exist only in zeroed memory (SecretText) and in the store itself: never in a
// file, on a command line, in the environment or on the console.
#include "common/secret_text.h"
#include "common/text.h"
#include "common/unique_owner.h"
#include "storetool/catalog_source.h"
#include "storetool/audit_trail.h"
#include "storetool/credential_vault.h"
#include "storetool/issued_launches.h"
#include "storetool/password_copies.h"
#include "storetool/password_maker.h"
#include "storetool/sign_on_refusals.h"
#include "storetool/store_edits.h"
#include "storetool/tool_output.h"
#include "templates/patterns.h"
#include "templates/store_records.h"
#include "templates/template_check.h"
#include "templates/template_expiry.h"
#include "templates/template_store.h"
#include "templates/template_text.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <wincred.h>

#include <cwchar>
#include <string_view>

namespace {

constexpr wchar_t kInternetExplorerAppPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE";
constexpr long long kMaxWaitSeconds = 86400;
constexpr long long kChangeWaitSeconds = 120;   // change always waits: only the answer decides
constexpr int kExitNoAnswer = 3;        // --wait: the time ran out (not run, or no answer)
constexpr int kExitFailed = 4;          // the site refused the password
constexpr int kExitChangeRequired = 5;  // the site asks for a new password

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

// The launched template's text with each secret in place of its token.
void FillSecrets(SecretText& out, const std::wstring& resolved,
                 const std::vector<std::pair<std::wstring, const SecretText*>>& secrets) {
    size_t at = 0;
    for (;;) {
        size_t found = std::wstring::npos, length = 0;
        const SecretText* secret = nullptr;
        for (const auto& [token, value] : secrets) {
            const std::wstring quoted = L"\"" + token + L"\"";
            const size_t place = resolved.find(quoted, at);
            if (place < found) found = place, length = quoted.size(), secret = value;
        }
        if (found == std::wstring::npos) break;
        out.Append(resolved.data() + at, found - at);
        AppendJsonString(out, secret->data(), secret->size());
        at = found + length;
    }
    out.Append(resolved.data() + at, resolved.size() - at);
}

// A credential set by another program can hold what the store cannot carry: a NUL would end the
// store's text inside the template, a CR would split a Basic record.
bool CarriesOnePassword(const SecretText& password) {
    for (size_t i = 0; i < password.size(); ++i)
        if (password.data()[i] == L'\0' || password.data()[i] == L'\r' || password.data()[i] == L'\n') return false;
    return true;
}

// ---- the store's side of one launch ----

// Where one launch stands in the store: its template still waiting for its page, and its
// outcome record once a page of its own site has done the steps.
struct LaunchState {
    bool templateWaits = false;
    bool answered = false;
    SignOnOutcome record;
};

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Read in place, so that the stored passwords are not copied. Only a record the launch's own site
// stamped counts: any page can write a record naming this launch.
LaunchState ReadLaunchState(const TemplateStore& store, const IssuedLaunch& launch) {
    LaunchState state;
    const TemplateStore::View view = store.Access();
    if (!view) return state;
    const std::wstring_view text(view.Text(), view.TextLength());
    const std::wstring quoted = Quoted(launch.id);
    for (const auto& [start, length] : ArrayEntrySpans(text)) {
        const std::wstring_view entry = text.substr(start, length);
        if (entry.find(quoted) != std::wstring_view::npos && entry.find(L"\"elements\"") != std::wstring_view::npos)
            state.templateWaits = true;
    }
    for (const TrustedOutcome& outcome : TrustedOutcomes(OutcomesOf(ReadStoreRecords(text)), {launch}, SecondsSince1970())) {
        state.answered = true;
        state.record = outcome.record;
    }
    return state;
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

// ---- one sign-on, from the catalog to its answer ----

struct LaunchOptions {
    std::wstring catalog, account, browser;
    bool noBrowser = false, retry = false, hasWait = false;
    long long waitSeconds = 0;
};

// Takes the options common to launch and change; false for a wrong use (printed where it is
// more than the usage).
bool TakeLaunchOptions(Arguments& arguments, LaunchOptions* options, bool* printed) {
    bool wrong = false;
    TakeOption(arguments, L"--catalog", &options->catalog, &wrong);
    TakeOption(arguments, L"--account", &options->account, &wrong);
    const bool hasBrowser = TakeOption(arguments, L"--browser", &options->browser, &wrong);
    options->hasWait = TakeSeconds(arguments, L"--wait", kMaxWaitSeconds, &options->waitSeconds, &wrong, printed);
    options->noBrowser = TakeSwitch(arguments, L"--no-browser");
    options->retry = TakeSwitch(arguments, L"--retry");
    return !*printed && !wrong && arguments.size() == 1 && !(hasBrowser && (options->noBrowser || options->browser.empty()));
}

// A prepared sign-on: its catalog, entry and credential, and the store it goes to.
struct SignOn {
    LoadedCatalog catalog;
    const CatalogEntry* entry = nullptr;
    VaultEntry credential;
    TemplateStore store;
    IssuedLaunch launch;
};

// The origins whose pages may tell a launch's outcome: the site its template runs on (the fixed
// part of its url) and the site of its launch address.
std::vector<std::wstring> SitesOf(const CatalogEntry& entry) {
    std::vector<std::wstring> sites;
    UrlOrigin origin;
    const nlohmann::json& value = entry.templateValue;
    if (value.is_object() && value.contains("url") && value["url"].is_string() &&
        FixedPartOrigin(Utf8ToWide(value["url"].get<std::string>()), origin))
        sites.push_back(OriginText(origin));
    const std::wstring launched = OriginOfUrl(entry.launch);
    if (!launched.empty() && std::find(sites.begin(), sites.end(), launched) == sites.end()) sites.push_back(launched);
    return sites;
}

// Finds the entry and its credential and opens the store; prints what to do and returns false
// when any is missing.
bool FindSignOn(const std::string& name, const LaunchOptions& options, SignOn* signOn) {
    if (!LoadCatalog(options.catalog, &signOn->catalog)) return false;
    signOn->entry = FindCatalogEntry(signOn->catalog, name);
    if (!signOn->entry) {
        Err("no sign-on \"" + name + "\" in the catalog " + Narrow(signOn->catalog.path) +
            ": run VelnorSSOStore catalog to see its entries\n");
        return false;
    }
    if (!ChooseCredential(*signOn->entry, options.account, &signOn->credential)) return false;
    // Nothing that vanishes with this process: the template must go to a store someone holds.
    signOn->store = TemplateStore(TemplateStore::Mode::kExistingOnly);
    if (!signOn->store.is_open()) {
        Err(std::string("the sign-on was not prepared: ") + kNotHeld);
        return false;
    }
    return true;
}

// Refuses a credential the site refused before, unless --retry; learns of refusals in the store
// first, so that one shown there since the last look counts.
bool MayTypePassword(SignOn& signOn, const LaunchOptions& options, const std::string& command) {
    NoteRefusalsInStore(signOn.store);
    long long since = 0;
    if (!IsRefused(signOn.credential, &since)) return true;
    const std::string target = Narrow(signOn.credential.target);
    if (options.retry) {
        if (ClearRefusal(signOn.credential.target)) AuditRefusalLifted(signOn.credential.target, RefusalLifted::Retry);
        return true;
    }
    Err("the site refused the password of " + target + " " + std::to_string((SecondsSince1970() - since) / 60) +
        " minutes ago, so it is not typed again by itself (the account could be locked). Set the right password with "
        "VelnorSSOStore cred set " + target + " " + Narrow(signOn.credential.userName) + ", or try the same password once "
        "more with VelnorSSOStore " + command + " " + signOn.entry->name + " --retry\n");
    return false;
}

// Fills the entry's template with the user name and the secrets (password, and for a change
// the new password) and adds it to the store. newPassword may be null.
bool PutSignOn(SignOn& signOn, const SecretText& password, const SecretText* newPassword) {
    IssuedLaunch& launch = signOn.launch;
    launch.id = NewStoreId();
    launch.credential = signOn.credential.target;
    launch.name = Utf8ToWide(signOn.entry->name);
    launch.passwordChange = newPassword != nullptr;
    launch.sites = SitesOf(*signOn.entry);
    launch.issued = SecondsSince1970();
    // Its template waits its lifetime, its record may take the longest verify.within to settle,
    // and then stays as long as records stay.
    launch.until = launch.issued + signOn.entry->lifetime + static_cast<long long>(kMaxVerifyWithin) + kRecordLifetime;
    // Kept before anything reaches the store: without it no outcome of this launch would count.
    if (launch.id.empty() || !RememberLaunch(launch)) {
        Err("the sign-on could not be prepared: no launch id could be made and kept under HKCU; nothing was changed\n");
        return false;
    }
    LaunchFill fill;
    fill.userName = signOn.credential.userName;
    fill.passwordToken = L"velnor-password-" + launch.id;
    fill.newPasswordToken = L"velnor-new-password-" + launch.id;
    fill.launchId = launch.id;
    fill.credential = signOn.credential.target;
    fill.expires = SecondsSince1970() + signOn.entry->lifetime;
    SecretText resolved;
    std::vector<std::pair<std::wstring, const SecretText*>> secrets = {{fill.passwordToken, &password}};
    if (newPassword) secrets.emplace_back(fill.newPasswordToken, newPassword);
    FillSecrets(resolved, ResolveLaunchTemplate(*signOn.entry, fill), secrets);
    std::string failure;
    if (!RewriteStore(signOn.store, [](std::wstring_view) { return false; }, &resolved, &failure)) {
        ForgetLaunch(launch.id);
        Err(failure + "; nothing was changed\n");
        return false;
    }
    return true;
}

bool ReadPassword(const SignOn& signOn, SecretText* password) {
    VaultEntry read;
    const std::string target = Narrow(signOn.credential.target);
    if (!ReadVaultCredential(signOn.credential.target, &read, password)) {
        Err("the credential " + target + " cannot be read: run VelnorSSOStore cred set " + target + " USERNAME\n");
        return false;
    }
    if (!CarriesOnePassword(*password)) {
        Err("the password of " + target + " holds a line break or NUL, which a sign-on cannot carry: set it again with "
            "VelnorSSOStore cred set " + target + " " + Narrow(read.userName) + "\n");
        return false;
    }
    return true;
}

bool OpenPage(SignOn& signOn, const LaunchOptions& options) {
    if (options.noBrowser) return true;
    std::string failure;
    if (!StartBrowser(options.browser, signOn.entry->launch, &failure)) {
        RemoveFromStore(signOn.store, signOn.launch.id);
        ForgetLaunch(signOn.launch.id);
        Err(failure + "; the sign-on was taken out of the store again\n");
        return false;
    }
    Out("opened " + Narrow(signOn.entry->launch) + "\n");
    return true;
}

enum class Answer { kRan, kSettled, kNoAnswer, kNotRun, kInterrupted };

// Waits until the site has answered or `seconds` have passed; the template or record of this
// launch is then taken out of the store, whatever the answer (also on Ctrl+C), and the launch
// forgotten. *record receives the outcome record with kSettled.
Answer AwaitAnswer(const SignOn& signOn, long long seconds, SignOnOutcome* record) {
    const ConsoleInterrupt interrupt;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    Answer answer = Answer::kNoAnswer;
    for (;;) {
        const LaunchState state = ReadLaunchState(signOn.store, signOn.launch);
        const bool timeUp = GetTickCount64() >= deadline;
        if (interrupt.raised()) {
            answer = Answer::kInterrupted;
            break;
        }
        if (state.answered && state.record.outcome != kOutcomeSubmitted) {
            *record = state.record;
            answer = Answer::kSettled;
            break;
        }
        if (!state.templateWaits && !state.answered) {
            answer = Answer::kRan;   // a template without verify, done and gone
            break;
        }
        if (timeUp) {
            answer = state.templateWaits ? Answer::kNotRun : Answer::kNoAnswer;
            break;
        }
        Sleep(200);
    }
    // Not left behind: an unused password should not wait in the store for a page, and a record
    // that was read has told what it had to tell.
    RemoveFromStore(signOn.store, signOn.launch.id);
    return answer;
}

// The launch's outcome, for the event log once: unless the agent reported it meanwhile. The launch
// is forgotten then: its record, taken out, has told what it had to tell.
void ReportOnce(const SignOn& signOn, Answer answer, const SignOnOutcome& record, long long waited) {
    bool audited = signOn.launch.passwordChange;   // a change reports what became of both passwords
    for (const IssuedLaunch& launch : IssuedLaunches())
        if (launch.id == signOn.launch.id) audited = audited || launch.audited;
    ForgetLaunch(signOn.launch.id);
    if (audited) return;
    if (answer == Answer::kSettled)
        AuditSignOnOutcome(Utf8ToWide(record.stamp.origin), signOn.launch.name, signOn.credential.target, record);
    else if (answer == Answer::kNoAnswer)
        AuditSignOnNoAnswer(signOn.launch.sites.empty() ? signOn.entry->launch : signOn.launch.sites.front(),
                            signOn.launch.name, signOn.credential.target,
                            L"nothing within " + std::to_wstring(waited) + L" seconds");
}

// How a record was reached, for what the tool says.
std::string Evidence(const SignOnOutcome& record) {
    if (record.how == kEvidenceSeen) return "seen on the page";
    return record.sent ? "guessed after the form was sent" : "guessed";
}

// What launch and change do first: the options, the entry (of the command's kind), its
// credential, the store, and no password the site refused. False with *exitCode when the
// command ends here.
bool BeginSignOn(Arguments& arguments, bool change, LaunchOptions* options, SignOn* signOn, int* exitCode) {
    bool printed = false;
    *exitCode = 1;
    if (!TakeLaunchOptions(arguments, options, &printed)) {
        *exitCode = printed ? 2 : kWrongUse;
        return false;
    }
    const std::string name = Narrow(arguments[0]);
    if (!FindSignOn(name, *options, signOn)) return false;
    if (signOn->entry->passwordChange != change) {
        Err(change ? "sign-on " + name + " is no password change (its catalog entry has no \"kind\": \"passwordChange\")\n"
                   : "sign-on " + name + " changes the password: run VelnorSSOStore change " + name + "\n");
        return false;
    }
    return MayTypePassword(*signOn, *options, change ? "change" : "launch");
}

int Launch(Arguments arguments) {
    LaunchOptions options;
    SignOn signOn;
    int exitCode = 0;
    if (!BeginSignOn(arguments, false, &options, &signOn, &exitCode)) return exitCode;
    const std::string& name = signOn.entry->name;
    {
        SecretText password;
        if (!ReadPassword(signOn, &password) || !PutSignOn(signOn, password, nullptr)) return 1;
    }
    const std::string user = Narrow(signOn.credential.userName);
    Out("prepared sign-on " + name + " for user " + user + " (its template expires in " +
        std::to_string(signOn.entry->lifetime) + " seconds unless a page uses it)\n");
    if (!OpenPage(signOn, options)) return 1;
    if (!options.hasWait) return 0;

    const std::string target = Narrow(signOn.credential.target);
    SignOnOutcome record;
    const Answer answer = AwaitAnswer(signOn, options.waitSeconds, &record);
    ReportOnce(signOn, answer, record, options.waitSeconds);
    switch (answer) {
        case Answer::kRan:
            Out("the sign-on ran (its template left the store)\n");
            return 0;
        case Answer::kSettled:
            break;
        case Answer::kNotRun:
            Out("the sign-on did not run within " + std::to_string(options.waitSeconds) +
                " seconds; its template was taken out of the store\n");
            return kExitNoAnswer;
        case Answer::kInterrupted:
            Out("stopped; the sign-on was taken out of the store\n");
            return kExitNoAnswer;
        default:
            Out("no answer: the site said nothing within " + std::to_string(options.waitSeconds) +
                " seconds of the sign-on that shows whether it took the password\n");
            return kExitNoAnswer;
    }
    if (record.outcome == kOutcomeSucceeded) {
        if (record.how == kEvidenceSeen) ForgetPreviousPassword(signOn.credential.target);
        Out("succeeded (" + Evidence(record) + "): the site took the password\n");
        return 0;
    }
    if (record.outcome == kOutcomeChangeRequired) {
        const CatalogEntry* change = ChangeEntryFor(signOn.catalog.entries, *signOn.entry);
        Out("change required (" + Evidence(record) + "): the site asks for a new password; " +
            (change ? "run VelnorSSOStore change " + change->name
                    : "change it on the site, then VelnorSSOStore cred set " + target + " " + user) +
            "\n");
        return kExitChangeRequired;
    }
    if (SiteRefusedPassword(record)) {
        NoteRefusal(signOn.credential.target);
        Out("failed (" + Evidence(record) + "): the site refused the password of " + target +
            ". It is not typed again by itself: set the right one with VelnorSSOStore cred set " + target + " " + user +
            " (or try it once more with --retry)\n");
        return kExitFailed;
    }
    if (record.outcome == kOutcomeNotSubmitted) {
        Out("not submitted: the login form was filled but nothing was sent to the site (the form stood again, "
            "unsent); nothing is said against the password\n");
        return kExitNoAnswer;
    }
    Out("no answer: the page guessed \"" + EscapeControls(record.outcome) + "\", but nothing shows that the site "
        "answered the password; nothing is said against it\n");
    return kExitNoAnswer;
}

int Change(Arguments arguments) {
    LaunchOptions options;
    SignOn signOn;
    int exitCode = 0;
    if (!BeginSignOn(arguments, true, &options, &signOn, &exitCode)) return exitCode;
    const std::string& name = signOn.entry->name;
    const std::wstring& target = signOn.credential.target;
    const std::wstring pending = target + kPendingSuffix;
    const std::string user = Narrow(signOn.credential.userName);
    {
        SecretText password, newPassword;
        if (!ReadPassword(signOn, &password)) return 1;
        if (!MakePassword(signOn.entry->policy, &newPassword)) {
            Err("no new password could be made (the system's random number generator failed, or no draw met the entry's "
                "rules); nothing was changed\n");
            return 1;
        }
        // Kept before the site sees it: whatever happens next, the new password is not lost.
        DWORD error = 0;
        if (!WriteVaultCredential(pending, signOn.credential.userName, newPassword, signOn.credential.persist, &error)) {
            Err("the new password could not be kept in Credential Manager (error " + std::to_string(error) +
                "); nothing was changed\n");
            return 1;
        }
        if (!PutSignOn(signOn, password, &newPassword)) {
            DeleteVaultCredential(pending, &error);
            return 1;
        }
    }
    Out("prepared the password change " + name + " for user " + user + "; the new password waits as " + Narrow(pending) +
        "\n");
    if (!OpenPage(signOn, options)) {
        DropPendingPassword(target);
        return 1;
    }
    SignOnOutcome record;
    const Answer answer = AwaitAnswer(signOn, options.hasWait ? options.waitSeconds : kChangeWaitSeconds, &record);
    ReportOnce(signOn, answer, record, 0);
    // Only what the site showed decides: a change guessed at (the time passed, the form shown
    // again) could leave Credential Manager without the password the site holds.
    const bool seen = answer == Answer::kSettled && record.how == kEvidenceSeen;
    std::string failure;
    if (seen && record.outcome == kOutcomeSucceeded) {
        AuditPasswordChange(PasswordChangeResult::Replaced, Utf8ToWide(record.stamp.origin), target, signOn.launch.name);
        if (!AdoptPendingPassword(signOn.credential, &failure)) {
            Out("succeeded on the site, but Credential Manager could not be updated: " + failure + "\n");
            return 1;
        }
        Out("succeeded (seen on the page): the site took the new password, which is now " + Narrow(target) +
            "; the one it replaced stays as " + Narrow(target + kPreviousSuffix) +
            " until a sign-on with the new one is seen to succeed\n");
        return 0;
    }
    if (seen && (record.outcome == kOutcomeFailed || record.outcome == kOutcomeChangeRequired)) {
        AuditPasswordChange(PasswordChangeResult::Kept, Utf8ToWide(record.stamp.origin), target, signOn.launch.name);
        DropPendingPassword(target);
        Out("failed (seen on the page): the site did not take the new password; " + Narrow(target) +
            " keeps the current one\n");
        return kExitFailed;
    }
    AuditPasswordChange(PasswordChangeResult::NoAnswer,
                        signOn.launch.sites.empty() ? signOn.entry->launch : signOn.launch.sites.front(), target,
                        signOn.launch.name);
    const std::string how = answer == Answer::kSettled
                                ? "the page only guessed \"" + EscapeControls(record.outcome) + "\""
                                : "the site showed nothing that says";
    Out("no answer: " + how + ", so which password the site holds now is not known. Both are kept: the current one in " +
        Narrow(target) + ", the new one in " + Narrow(pending) + ". Sign in on the site with one of them, then keep the "
        "one it holds: VelnorSSOStore cred keep " + Narrow(target) + " new (or current)\n");
    return kExitNoAnswer;
}

std::string Age(long long at) {
    const long long seconds = SecondsSince1970() - at;
    return seconds < 120 ? std::to_string(seconds) + " s ago" : std::to_string(seconds / 60) + " min ago";
}

int Status(Arguments arguments) {
    if (!arguments.empty()) return kWrongUse;
    const TemplateStore store(TemplateStore::Mode::kExistingOnly);
    if (!store.is_open()) {
        Err(kNotHeld);
        return 1;
    }
    NoteRefusalsInStore(store);
    std::vector<StoreRecord> records;
    {
        const TemplateStore::View view = store.Access();
        if (view) records = ReadStoreRecords(std::wstring_view(view.Text(), view.TextLength()));
    }
    // Only the records of sign-ons launched here, told by their own sites, are shown as outcomes:
    // what else pages wrote is counted, never read out as if it were one.
    const std::vector<SignOnOutcome> outcomes = OutcomesOf(records);
    const std::vector<TrustedOutcome> trusted = TrustedOutcomes(outcomes, IssuedLaunches(), SecondsSince1970());
    if (trusted.empty()) Out("no outcomes of sign-ons launched here in the store\n");
    for (const TrustedOutcome& outcome : trusted) {
        const SignOnOutcome& record = outcome.record;
        const std::string how = record.how.empty() ? "" : " (" + EscapeControls(record.how) + (record.sent ? ", sent" : "") + ")";
        Out(EscapeControls(record.outcome) + how + "  " + EscapeControls(record.stamp.origin) + "  " +
            Narrow(outcome.launch.name) + "  " + Narrow(outcome.launch.credential) + "  " + Age(record.stamp.at) + "\n");
    }
    if (outcomes.size() > trusted.size())
        Out(std::to_string(outcomes.size() - trusted.size()) +
            " other outcome records (not of a sign-on launched here, or not written by its own site) are ignored\n");
    for (const StoreRecord& record : records)
        if (record.kind == RecordKind::kRecorder) Out("recording (VelnorSSOStore record) until its time runs out\n");
    return 0;
}

}  // namespace

const std::vector<ToolCommand>& LaunchCommands() {
    static const std::vector<ToolCommand> commands = {
        {"launch",
         "  launch NAME [--account USERNAME] [--no-browser] [--wait SECONDS] [--retry]\n"
         "                         sign on to a catalog entry: its template with your credential\n"
         "                         goes into the store, then Internet Explorer opens its page\n",
         "usage: VelnorSSOStore launch NAME [--account USERNAME] [--no-browser | --browser COMMAND]\n"
         "                              [--wait SECONDS] [--retry] [--catalog FILE]\n\n"
         "Prepares the sign-on NAME of the catalog: fills its template with your credential from\n"
         "Credential Manager (the entry's \"credential\" target, or with --account one of its\n"
         "accounts, Velnor:NAME#USERNAME) and adds it to the template store beside the templates\n"
         "already there, with an expiry (\"expires\", the entry's \"lifetime\", 120 seconds unless it\n"
         "says otherwise) after which a page drops it unused. Then it opens the entry's address in\n"
         "Internet Explorer, or with --browser in COMMAND (the address is added as its last\n"
         "argument), unless --no-browser is given.\n"
         "With --wait it waits until the template has run or SECONDS have passed. A template with\n"
         "\"verify\" then tells whether the site took the password: succeeded, failed, change\n"
         "required, or no answer; the record of it is taken out of the store.\n"
         "A password the site refused is not typed again by itself: launch refuses the credential\n"
         "until it is set anew (cred set), or once more with --retry.\n"
         "The store must be held (the agent, a browser, or \"hold\"): otherwise nothing is prepared.\n"
         "Exit code 0 prepared (with --wait: ran, or succeeded), 1 not prepared (nothing changed),\n"
         "2 wrong use, 3 with --wait: the time ran out (not run, or no answer), 4 failed: the site\n"
         "refused the password, 5 the site asks for a new password (see change).\n",
         [](const Arguments& a) { return Launch(a); }},
        {"status",
         "  status                 what became of the sign-ons: succeeded, failed, change required\n",
         "usage: VelnorSSOStore status\n\n"
         "Lists the outcome records in the store (a template with \"verify\" leaves one when its\n"
         "steps are done; pages of the site settle it), newest last, with the site, the catalog\n"
         "entry, the credential and their age. Records stay for ten minutes. A failed one is noted:\n"
         "launch then refuses that credential until it is set anew or --retry is given.\n"
         "Exit code 0, 1 when nothing holds the store.\n",
         [](const Arguments& a) { return Status(a); }},
        {"change",
         "  change NAME [--account USERNAME] [--wait SECONDS]\n"
         "                         change the password on the site with a new one made here\n",
         "usage: VelnorSSOStore change NAME [--account USERNAME] [--no-browser | --browser COMMAND]\n"
         "                              [--wait SECONDS] [--retry] [--catalog FILE]\n\n"
         "Runs the catalog entry NAME, whose \"kind\" is \"passwordChange\": makes a new password\n"
         "under the entry's \"policy\" or \"passwordrules\", keeps it as the pending credential\n"
         "TARGET#pending, and puts the entry's template, which types the current and the new\n"
         "password, into the store; then opens the page and waits (120 seconds unless --wait says\n"
         "otherwise) for the site's answer, as the page shows it (a find of the entry's verify):\n"
         "Succeeded: the new password becomes the credential, the one it replaces stays as\n"
         "TARGET#previous until a sign-on with the new one is seen to succeed. Failed: the pending\n"
         "one is deleted, the current one stays. Anything else (the time ran out, the form came\n"
         "again, a page only guessed) is no answer: both are kept; sign in on the site to learn\n"
         "which one it holds, then keep it with VelnorSSOStore cred keep TARGET new|current.\n"
         "Exit code 0 changed, 1 not started (nothing changed), 2 wrong use, 3 no answer, 4 failed.\n",
         [](const Arguments& a) { return Change(a); }},
    };
    return commands;
}
