#include "storetool/audit_trail.h"

#include "common/text.h"
#include "logging/audit_events.h"

void AuditSignOnOutcome(const SignOnOutcome& record) {
    DWORD eventId = 0;
    if (record.outcome == kOutcomeSucceeded)
        eventId = MSG_SIGN_ON_SUCCEEDED;
    else if (record.outcome == kOutcomeFailed)
        eventId = MSG_SIGN_ON_FAILED;
    else if (record.outcome == kOutcomeChangeRequired)
        eventId = MSG_SIGN_ON_CHANGE_REQUIRED;
    else
        return;   // not settled yet: nothing happened that an auditor needs
    ReportAuditEvent(eventId, {Utf8ToWide(record.site), Utf8ToWide(record.name), Utf8ToWide(record.credential)});
}

void AuditSignOnNoAnswer(const std::string& site, const std::string& entry, const std::wstring& credential,
                         long long waitedSeconds) {
    ReportAuditEvent(MSG_SIGN_ON_NO_ANSWER,
                     {Utf8ToWide(site), Utf8ToWide(entry), credential, std::to_wstring(waitedSeconds)});
}

void AuditRefusalNoted(const std::wstring& credential, const std::string& site) {
    ReportAuditEvent(MSG_REFUSAL_NOTED, {credential, site.empty() ? std::wstring(L"the site") : Utf8ToWide(site)});
}

void AuditRefusalLifted(const std::wstring& credential, RefusalLifted why) {
    ReportAuditEvent(MSG_REFUSAL_LIFTED, {credential, why == RefusalLifted::Retry ? L"--retry was given"
                                                                                  : L"the credential was set anew"});
}

void AuditPasswordChange(PasswordChangeResult result, const std::string& site, const std::wstring& credential,
                         const std::string& entry) {
    const DWORD eventId = result == PasswordChangeResult::Replaced ? MSG_PASSWORD_REPLACED
                          : result == PasswordChangeResult::Kept   ? MSG_PASSWORD_KEPT
                                                                   : MSG_PASSWORD_CHANGE_NO_ANSWER;
    ReportAuditEvent(eventId, {Utf8ToWide(site), credential, Utf8ToWide(entry)});
}
