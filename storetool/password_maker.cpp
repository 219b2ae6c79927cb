#include "storetool/password_maker.h"

#include <windows.h>
#include <bcrypt.h>

#include <string>
#include <vector>

namespace {

// A uniform number below `bound`: draws that would favour the low values are drawn again.
bool RandomBelow(unsigned bound, unsigned* value) {
    const unsigned limit = 0xFFFFFFFFu - 0xFFFFFFFFu % bound;
    for (;;) {
        unsigned draw = 0;
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&draw), sizeof(draw),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            return false;
        if (draw < limit) {
            *value = draw % bound;
            return true;
        }
    }
}

}  // namespace

bool MakePassword(const PasswordPolicy& policy, SecretText* password) {
    password->Clear();
    std::vector<std::string> classes;
    if (policy.lower) classes.push_back("abcdefghijklmnopqrstuvwxyz");
    if (policy.upper) classes.push_back("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    if (policy.digits) classes.push_back("0123456789");
    if (!policy.symbols.empty()) classes.push_back(policy.symbols);
    std::string all;
    for (const std::string& chars : classes) all += chars;
    if (all.empty() || static_cast<size_t>(policy.length) < classes.size()) return false;

    wchar_t* out = password->Extend(policy.length);
    unsigned pick = 0;
    for (int i = 0; i < policy.length; ++i) {
        // One of each class first, then any; the order is shuffled below.
        const std::string& from = static_cast<size_t>(i) < classes.size() ? classes[i] : all;
        if (!RandomBelow(static_cast<unsigned>(from.size()), &pick)) return password->Clear(), false;
        out[i] = static_cast<unsigned char>(from[pick]);
    }
    for (int i = policy.length - 1; i > 0; --i) {
        if (!RandomBelow(static_cast<unsigned>(i + 1), &pick)) return password->Clear(), false;
        const wchar_t kept = out[i];
        out[i] = out[pick];
        out[pick] = kept;
    }
    SecureZeroMemory(&pick, sizeof(pick));
    return true;
}
