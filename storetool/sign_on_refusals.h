// A password a site refused is never typed again by itself: the directory behind the site
// counts every refused attempt, and a sign-on replayed at each logon or click would lock the
// account. A refusal is noted per Credential Manager target, under
// HKCU\Software\Zorvanti\VelnorIE\Refused (value: the target), with the time the credential
// was last written then. "launch" refuses that credential while the note stands and the
// credential is as it was; a new password ("cred set", a password change) or "launch --retry"
// lifts it.
#pragma once

#include "storetool/credential_vault.h"
#include "templates/template_store.h"

#include <string>

void NoteRefusal(const std::wstring& target);
// True when a refusal stood and was lifted.
bool ClearRefusal(const std::wstring& target);

// Whether the credential stands refused; *since is when the refusal was noted (seconds since
// 1970 UTC). A note made for an older version of the credential is taken away.
bool IsRefused(const VaultEntry& credential, long long* since);

// Notes every refusal the store's outcome records show, and reports each outcome of a launch to
// the event log once. Returns how many refusals it noted anew.
int NoteRefusalsInStore(const TemplateStore& store);
