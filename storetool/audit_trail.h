// What the store tool and its agent write to the Application log (logging/audit_events.h), one
// function per thing that happened, so each place that sees it adds one call. Pages cannot write
// events (their tabs may run in an AppContainer): the tool or the agent writes what a page put
// into the store, from the outcome record, and only once, where the record is settled or taken.
// Texts that pages or catalogs wrote are escaped by ReportAuditEvent; a user name or password
// never reaches an event: the credential is named by its Credential Manager target.
#pragma once

#include "templates/store_records.h"

#include <string>

// A sign-on's outcome record as a page settled it: succeeded, failed or changeRequired.
void AuditSignOnOutcome(const SignOnOutcome& record);
// "launch --wait" ran out of time and the site had not answered.
void AuditSignOnNoAnswer(const std::string& site, const std::string& entry, const std::wstring& credential,
                         long long waitedSeconds);

// A refusal noted for a credential (the site that refused it, empty when not known) and lifted.
void AuditRefusalNoted(const std::wstring& credential, const std::string& site);
enum class RefusalLifted { CredentialSetAnew, Retry };
void AuditRefusalLifted(const std::wstring& credential, RefusalLifted why);

// What became of a password change: the new password replaced the current one, the current one
// was kept (the site did not take the new one), or no answer (both kept).
enum class PasswordChangeResult { Replaced, Kept, NoAnswer };
void AuditPasswordChange(PasswordChangeResult result, const std::string& site, const std::wstring& credential,
                         const std::string& entry);
