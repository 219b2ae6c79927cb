// New passwords for "change", drawn from the system's random number generator (BCryptGenRandom)
// under the catalog entry's rules: every character uniformly from the allowed characters, the
// whole draw made again until every rule holds. So each password that keeps the rules at the
// made length is as likely as any other (placing one character of each class first is not).
#pragma once

#include "common/secret_text.h"
#include "templates/password_rules.h"

// False when the system's generator fails, or when a million draws all broke a rule (which rules
// that PasswordRulesProblem accepts practically never do); *password is then empty.
bool MakePassword(const PasswordRules& rules, SecretText* password);
// The same under the rules of a "policy" object.
bool MakePassword(const PasswordPolicy& policy, SecretText* password);
