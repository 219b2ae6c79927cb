// The rules new passwords of a password change entry are made under: given either as the
// entry's "policy" object or as "passwordrules", the text sites publish for password managers
// ("minlength: 8; maxlength: 20; required: lower; required: digit; allowed: [-_!];"). Both
// become one rule set; the store tool's maker draws every character uniformly from its allowed
// characters and keeps a draw only when every rule holds.
#pragma once

#include <bitset>
#include <string>
#include <vector>

// The lengths new passwords may have: a "policy" length, and the bounds "passwordrules" lengths
// are taken within (a site's "minlength: 6" still gets 8 or more).
constexpr int kMinPolicyLength = 8;
constexpr int kMaxPolicyLength = 128;
// The length made when the rules allow it, otherwise the allowed length nearest to it.
constexpr int kDefaultPasswordLength = 16;

// The "policy" object of a password change entry: its length and the classes drawn from, at
// least one character of each class that is on.
struct PasswordPolicy {
    int length = kDefaultPasswordLength;
    bool lower = true, upper = true, digits = true;
    std::string symbols = "!#%+-=?@_";   // printable ASCII; empty: none
};

// Printable ASCII characters by code (bit 0x41 is "A"); nothing else is ever in a set.
using PasswordCharacters = std::bitset<128>;

struct PasswordRules {
    int minLength = kMinPolicyLength, maxLength = kMaxPolicyLength;   // within the two bounds above
    int maxConsecutive = 0;                   // the longest run of one character; 0: any
    PasswordCharacters allowed;               // every character of a password is one of these
    std::vector<PasswordCharacters> required; // every password has a character of each
};

// The length a password is made with: the default within [minLength, maxLength].
int PasswordLength(const PasswordRules& rules);

// The rules of a "policy" object: exactly `length` characters, one of each class that is on.
PasswordRules RulesOfPolicy(const PasswordPolicy& policy);

// Why the maker cannot honour a rule set (no characters, required classes that cannot all be
// met, rules under which hardly any uniform draw passes); empty when it can.
std::string PasswordRulesProblem(const PasswordRules& rules);

// Reads a "passwordrules" text (property and class names in any letter case, white space
// between the parts, a last ";" optional). False with *problem naming what is wrong or cannot
// be honoured, *rules then unchanged; true with *rules set and honourable.
bool ReadPasswordRules(const std::string& text, PasswordRules* rules, std::string* problem);
