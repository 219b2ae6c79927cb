// The sign-ons this user's store tool launched, kept outside the store, under
// HKCU\Software\Zorvanti\VelnorIE\Launches (a key per launch id), where no page can read or write
// them. An outcome record in the store counts only for one of these launches, and only when the
// extension stamped it with the origin of that launch's own site: any page can write the store,
// but no page can make the tool refuse, keep or delete a password.
#pragma once

#include "templates/store_records.h"

#include <string>
#include <vector>

struct IssuedLaunch {
    std::wstring id;                  // the launch id (random, from BCryptGenRandom)
    std::wstring credential;          // the Credential Manager target it typed
    std::wstring name;                // the catalog entry
    bool passwordChange = false;      // a "change" rather than a sign-on
    std::vector<std::wstring> sites;  // the origins whose pages may tell its outcome
    long long issued = 0;             // seconds since 1970 UTC
    long long until = 0;              // after this its records are no longer taken
    bool audited = false;             // its outcome has gone to the event log
};

// False when it could not be kept (then no outcome of it will count).
bool RememberLaunch(const IssuedLaunch& launch);
void ForgetLaunch(const std::wstring& id);
// Its outcome has gone to the event log: no later look at the store reports it again.
void MarkAudited(const std::wstring& id);
// Every launch of that credential: its records no longer count (a new password was set).
void ForgetLaunchesOf(const std::wstring& credential);
// The launches whose records still count; those past their time are forgotten on the way.
std::vector<IssuedLaunch> IssuedLaunches();

// An outcome the tool may act on: a record of one of its own launches, stamped by the launch's
// own site, not dated in the future.
struct TrustedOutcome {
    IssuedLaunch launch;
    SignOnOutcome record;
};
std::vector<TrustedOutcome> TrustedOutcomes(const std::vector<SignOnOutcome>& records,
                                            const std::vector<IssuedLaunch>& launches, long long now);
