// The copies of a password a change leaves in Credential Manager, so that none is ever lost:
//   TARGET#pending   the new password, kept before the site sees it;
//   TARGET#previous  the password a change replaced, kept until a sign-on with the new one
//                    was seen to succeed.
// A change the site was seen to take makes the new one the credential and keeps the old one as
// the previous copy; a change nobody saw answered keeps both as they are until the
// administrator says which one the site holds ("cred keep").
#pragma once

#include "storetool/credential_vault.h"

#include <string>

// The pending password becomes the credential, the one it replaces the previous copy. False with
// *failure when a step could not be done (what was kept then is said in *failure).
bool AdoptPendingPassword(const VaultEntry& current, std::string* failure);
// The password the previous copy holds becomes the credential again; the copy goes.
bool RestorePreviousPassword(const VaultEntry& current, std::string* failure);
// The pending password is dropped: the site did not take it.
void DropPendingPassword(const std::wstring& target);
// A sign-on with the credential was seen to succeed: the previous copy is no longer needed.
void ForgetPreviousPassword(const std::wstring& target);
