#include "storetool/audit_trail.h"

#include "common/text.h"
#include "logging/audit_events.h"

namespace {

std::wstring Evidence(const SignOnOutcome& record) {
    if (record.how == kEvidenceSeen) return L"as the page showed";
    return record.sent ? L"as the page guessed after the form was sent" : L"as the page guessed";
}

}  // namespace

void AuditSignOnOutcome(const std::wstring& site, const std::wstring& entry, const std::wstring& credential,
                        const SignOnOutcome& record) {
    DWORD eventId = 0;
    if (record.outcome == kOutcomeSucceeded)
        eventId = MSG_SIGN_ON_SUCCEEDED;
    else if (SiteRefusedPassword(record))
        eventId = MSG_SIGN_ON_FAILED;
    else if (record.outcome == kOutcomeChangeRequired)
        eventId = MSG_SIGN_ON_CHANGE_REQUIRED;
    if (eventId) {
        ReportAuditEvent(eventId, {site, entry, credential, Evidence(record)});
        return;
    }
    AuditSignOnNoAnswer(site, entry, credential,
                        record.outcome == kOutcomeNotSubmitted ? L"the form was not sent"
                                                               : L"the page only guessed \"" + Utf8ToWide(record.outcome) + L"\"");
}

void AuditSignOnNoAnswer(const std::wstring& site, const std::wstring& entry, const std::wstring& credential,
                         const std::wstring& why) {
    ReportAuditEvent(MSG_SIGN_ON_NO_ANSWER, {site, entry, credential, why});
}

void AuditRefusalNoted(const std::wstring& credential, const std::wstring& site) {
    ReportAuditEvent(MSG_REFUSAL_NOTED, {credential, site.empty() ? std::wstring(L"the site") : site});
}

void AuditRefusalLifted(const std::wstring& credential, RefusalLifted why) {
    ReportAuditEvent(MSG_REFUSAL_LIFTED, {credential, why == RefusalLifted::Retry ? L"--retry was given"
                                                                                  : L"the credential was set anew"});
}

void AuditPasswordChange(PasswordChangeResult result, const std::wstring& site, const std::wstring& credential,
                         const std::wstring& entry) {
    const DWORD eventId = result == PasswordChangeResult::Replaced ? MSG_PASSWORD_REPLACED
                          : result == PasswordChangeResult::Kept   ? MSG_PASSWORD_KEPT
                                                                   : MSG_PASSWORD_CHANGE_NO_ANSWER;
    ReportAuditEvent(eventId, {site, credential, entry});
}
