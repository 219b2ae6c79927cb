// New passwords for "change": drawn from the system's random number generator (BCryptGenRandom)
// under the catalog entry's policy, with at least one character of every class the policy has.
#pragma once

#include "common/secret_text.h"
#include "templates/catalog.h"

// False when the system's generator fails; *password is then empty.
bool MakePassword(const PasswordPolicy& policy, SecretText* password);
