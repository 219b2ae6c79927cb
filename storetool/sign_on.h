// One sign-on from the catalog to its answer, as launch and change both run it: the options they
// share, the entry of their kind and its credential, the store, no password the site refused; the
// template filled in and put into the store, the page opened, the answer awaited and reported.
//
// A launch puts the entry's template, with the user's credential filled in, into the store
// beside the templates already there, with an expiry after which the content script drops it
// unused; then the browser opens the entry's page. A template with "verify" is replaced by an
// outcome record once its steps are done, and the site's pages settle it. Only a record of one of
// this tool's own launches, stamped by its own site, counts (issued_launches.h). A password the
// site refused is never typed again by itself (sign_on_refusals.h).
//
// The passwords exist only in zeroed memory (SecretText) and in the store itself: never in a
// file, on a command line, in the environment or on the console.
#pragma once

#include "common/secret_text.h"
#include "storetool/catalog_source.h"
#include "storetool/commands.h"
#include "storetool/credential_vault.h"
#include "storetool/issued_launches.h"
#include "templates/store_records.h"
#include "templates/template_store.h"

#include <string>

constexpr long long kMaxWaitSeconds = 86400;
constexpr long long kChangeWaitSeconds = 120;   // change always waits: only the answer decides
constexpr int kExitNoAnswer = 3;        // --wait: the time ran out (not run, or no answer)
constexpr int kExitFailed = 4;          // the site refused the password
constexpr int kExitChangeRequired = 5;  // the site asks for a new password

struct LaunchOptions {
    std::wstring catalog, account, browser;
    bool noBrowser = false, retry = false, hasWait = false;
    long long waitSeconds = 0;
};

// A prepared sign-on: its catalog, entry and credential, and the store it goes to.
struct SignOn {
    LoadedCatalog catalog;
    const CatalogEntry* entry = nullptr;
    VaultEntry credential;
    TemplateStore store;
    IssuedLaunch launch;
};

// What launch and change do first: the options, the entry (of the command's kind), its
// credential, the store, and no password the site refused. False with *exitCode when the command
// ends here.
bool BeginSignOn(Arguments& arguments, bool change, LaunchOptions* options, SignOn* signOn, int* exitCode);

// Reads the credential's password; false (and why, printed) when it cannot be read or carried.
bool ReadPassword(const SignOn& signOn, SecretText* password);

// Fills the entry's template with the user name and the secrets (password, and for a change the
// new password), notes the launch (issued_launches.h) and adds the template to the store.
// newPassword may be null.
bool PutSignOn(SignOn& signOn, const SecretText& password, const SecretText* newPassword);

// Opens the entry's page (unless --no-browser); false, with the template taken out again, when the
// browser cannot be started.
bool OpenPage(SignOn& signOn, const LaunchOptions& options);

enum class Answer { kRan, kSettled, kNoAnswer, kNotRun, kInterrupted };

// Waits until the site has answered or `seconds` have passed; the template or record of this
// launch is then taken out of the store, whatever the answer (also on Ctrl+C). *record receives
// the outcome record with kSettled.
Answer AwaitAnswer(const SignOn& signOn, long long seconds, SignOnOutcome* record);

// The answer for the event log, once (unless the agent reported it meanwhile), and the launch
// forgotten: its record has told what it had to tell.
void ReportOnce(const SignOn& signOn, Answer answer, const SignOnOutcome& record, long long waited);

// How a record was reached, for what the tool says ("seen on the page", "guessed ...").
std::string Evidence(const SignOnOutcome& record);
