// The change command: a new password made here, typed on the site's change page, and kept only
// as the site's own answer says; Credential Manager never loses the password the site holds
// (password_copies.h).
#include "common/text.h"
#include "storetool/audit_trail.h"
#include "storetool/password_copies.h"
#include "storetool/password_maker.h"
#include "storetool/sign_on.h"
#include "storetool/tool_output.h"
#include "templates/catalog.h"

namespace {

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

}  // namespace

const std::vector<ToolCommand>& ChangeCommands() {
    static const std::vector<ToolCommand> commands = {
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
