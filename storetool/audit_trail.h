// What the store tool and its agent write to the Application log (logging/audit_events.h), one
// function per thing that happened, so each place that sees it adds one call. Pages cannot write
// events (their tabs may run in an AppContainer): the tool or the agent writes what a page put
// into the store, from the outcome record, and only once, where the record is settled or taken.
// Texts that pages or catalogs wrote are escaped by ReportAuditEvent; a user name or password
// never reaches an event: the credential is named by its Credential Manager target.
#pragma once

#include "templates/store_records.h"

#include <string>

// A sign-on's outcome as its own site told it (issued_launches.h): succeeded, failed (where the
// site answered the password) or changeRequired, with how the page reached it; anything else is
// no answer. The site is the origin the extension stamped, the entry and credential the launch's.
void AuditSignOnOutcome(const std::wstring& site, const std::wstring& entry, const std::wstring& credential,
                        const SignOnOutcome& record);
// "launch --wait" saw no answer: `why` says what it saw instead.
void AuditSignOnNoAnswer(const std::wstring& site, const std::wstring& entry, const std::wstring& credential,
                         const std::wstring& why);

// A refusal noted for a credential (the site that refused it, empty when not known) and lifted.
void AuditRefusalNoted(const std::wstring& credential, const std::wstring& site);
enum class RefusalLifted { CredentialSetAnew, Retry };
void AuditRefusalLifted(const std::wstring& credential, RefusalLifted why);

// What became of a password change: the new password replaced the current one, the current one
// was kept (the site did not take the new one), or no answer (both kept).
enum class PasswordChangeResult { Replaced, Kept, NoAnswer };
void AuditPasswordChange(PasswordChangeResult result, const std::wstring& site, const std::wstring& credential,
                         const std::wstring& entry);
