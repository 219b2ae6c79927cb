#include "storetool/sign_on.h"

#include "common/process_launch.h"
#include "common/text.h"
#include "common/unique_owner.h"
#include "storetool/arguments.h"
#include "storetool/audit_trail.h"
#include "storetool/sign_on_refusals.h"
#include "storetool/store_edits.h"
#include "storetool/store_wait.h"
#include "storetool/tool_output.h"
#include "templates/patterns.h"
#include "templates/template_check.h"
#include "templates/template_expiry.h"
#include "templates/template_text.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <string_view>

namespace {

constexpr wchar_t kInternetExplorerAppPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE";

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
    StartedProgram started;
    DWORD error = 0;
    if (!StartProgram(application.empty() ? nullptr : application.c_str(), commandLine, 0, &started, &error)) {
        *failure = "the browser could not be started (error " + std::to_string(error) + ")";
        return false;
    }
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

}  // namespace

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

Answer AwaitAnswer(const SignOn& signOn, long long seconds, SignOnOutcome* record) {
    Answer answer = Answer::kNoAnswer;
    const WaitEnd end = WaitOnStore(seconds, 200, [&](bool timeUp) {
        const LaunchState state = ReadLaunchState(signOn.store, signOn.launch);
        if (state.answered && state.record.outcome != kOutcomeSubmitted) {
            *record = state.record;
            answer = Answer::kSettled;
            return true;
        }
        if (!state.templateWaits && !state.answered) {
            answer = Answer::kRan;   // a template without verify, done and gone
            return true;
        }
        if (timeUp) answer = state.templateWaits ? Answer::kNotRun : Answer::kNoAnswer;
        return false;
    });
    if (end == WaitEnd::kInterrupted) answer = Answer::kInterrupted;
    // Not left behind: an unused password should not wait in the store for a page, and a record
    // that was read has told what it had to tell.
    RemoveFromStore(signOn.store, signOn.launch.id);
    return answer;
}

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

std::string Evidence(const SignOnOutcome& record) {
    if (record.how == kEvidenceSeen) return "seen on the page";
    return record.sent ? "guessed after the form was sent" : "guessed";
}

