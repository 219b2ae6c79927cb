// The launch group: a sign-on from the catalog ("launch") and what became of the sign-ons
// ("status"). (The one sign-on they and change run: sign_on.h.)
#include "common/text.h"
#include "storetool/audit_trail.h"
#include "storetool/issued_launches.h"
#include "storetool/password_copies.h"
#include "storetool/sign_on.h"
#include "storetool/sign_on_refusals.h"
#include "storetool/tool_output.h"
#include "templates/template_expiry.h"

namespace {

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
    };
    return commands;
}
