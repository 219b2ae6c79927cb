#include "storetool/password_maker.h"

#include <windows.h>
#include <bcrypt.h>

#include <string>

namespace {

// Rules that PasswordRulesProblem accepts pass at least one draw in 10,000: that all of these
// fail has a chance of about e^-100.
constexpr int kMostDraws = 1000000;

// The system generator's bytes, fetched a block at a time (one call a character would make
// tight rules slow). They become the password, so the block is zeroed when done.
class RandomBytes {
public:
    RandomBytes() = default;
    RandomBytes(const RandomBytes&) = delete;
    RandomBytes& operator=(const RandomBytes&) = delete;
    ~RandomBytes() { SecureZeroMemory(m_block, sizeof(m_block)); }

    // A uniform number below `bound` (at most 256): bytes that would favour the low numbers
    // are passed over.
    bool Below(unsigned bound, unsigned* value) {
        const unsigned limit = 256 - 256 % bound;
        for (;;) {
            if (m_used == sizeof(m_block)) {
                if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, m_block, sizeof(m_block), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
                    return false;
                m_used = 0;
            }
            const unsigned byte = m_block[m_used++];
            if (byte < limit) {
                *value = byte % bound;
                return true;
            }
        }
    }

private:
    UCHAR m_block[1024] = {};
    size_t m_used = sizeof(m_block);
};

bool KeepsRules(const wchar_t* text, int length, const PasswordRules& rules) {
    for (const PasswordCharacters& set : rules.required) {
        bool found = false;
        for (int i = 0; i < length && !found; ++i) found = set[text[i]];
        if (!found) return false;
    }
    for (int i = 0, run = 0; i < length; ++i) {
        run = i > 0 && text[i] == text[i - 1] ? run + 1 : 1;
        if (rules.maxConsecutive > 0 && run > rules.maxConsecutive) return false;
    }
    return true;
}

}  // namespace

bool MakePassword(const PasswordRules& rules, SecretText* password) {
    password->Clear();
    std::string allowed;
    for (unsigned c = 0x20; c < 0x7F; ++c)
        if (rules.allowed[c]) allowed += static_cast<char>(c);
    const int length = PasswordLength(rules);
    if (allowed.empty() || length <= 0) return false;

    RandomBytes random;
    wchar_t* out = password->Extend(length);
    unsigned pick = 0;
    for (int draw = 0; draw < kMostDraws; ++draw) {
        for (int i = 0; i < length; ++i) {
            if (!random.Below(static_cast<unsigned>(allowed.size()), &pick)) return password->Clear(), false;
            out[i] = static_cast<unsigned char>(allowed[pick]);
        }
        if (KeepsRules(out, length, rules)) {
            SecureZeroMemory(&pick, sizeof(pick));
            return true;
        }
    }
    password->Clear();
    return false;
}

bool MakePassword(const PasswordPolicy& policy, SecretText* password) {
    return MakePassword(RulesOfPolicy(policy), password);
}
