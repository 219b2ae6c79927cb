// New passwords: every one keeps every rule, and they are drawn uniformly from all passwords
// that keep them (a maker that places one character of each required class first draws those
// classes too often, which the counts below tell apart).
#include "storetool/password_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

namespace {

PasswordRules Read(const std::string& text) {
    PasswordRules rules;
    std::string problem;
    EXPECT_TRUE(ReadPasswordRules(text, &rules, &problem)) << text << ": " << problem;
    return rules;
}

TEST(PasswordMakerTest, EveryPasswordKeepsEveryRule) {
    PasswordPolicy policy;
    policy.length = 9;
    policy.symbols = "#";
    const std::pair<PasswordRules, int> cases[] = {   // the rules and the length they give
        {Read("minlength: 8; maxlength: 20; required: lower; required: upper; required: digit; required: [-_!]; "
              "allowed: ascii-printable; max-consecutive: 2;"), kDefaultPasswordLength},
        {Read("maxlength: 8; required: [!]; required: [#]; required: [$]; allowed: ascii-printable;"), 8},
        {Read("allowed: [abc]; max-consecutive: 1; maxlength: 8;"), 8},
        {Read("minlength: 24; required: digit, [?]; allowed: upper;"), 24},
        {RulesOfPolicy(policy), 9},
    };
    for (const auto& [rules, length] : cases) {
        for (int round = 0; round < 300; ++round) {
            SecretText password;
            ASSERT_TRUE(MakePassword(rules, &password));
            ASSERT_EQ(static_cast<size_t>(length), password.size());
            const std::wstring text(password.data(), password.size());
            for (wchar_t c : text) {
                ASSERT_TRUE(c < 128 && rules.allowed[c]) << "only allowed characters";
                ASSERT_TRUE(!rules.maxConsecutive || text.find(std::wstring(rules.maxConsecutive + 1, c)) == std::wstring::npos)
                    << "no longer runs";
            }
            for (const PasswordCharacters& required : rules.required)
                ASSERT_TRUE(std::any_of(text.begin(), text.end(), [&](wchar_t c) { return required[c]; }))
                    << "a character of every required class";
        }
    }
    SecretText password;
    EXPECT_FALSE(MakePassword(PasswordRules(), &password)) << "no characters, no password";
    EXPECT_TRUE(password.empty());
}

TEST(PasswordMakerTest, DrawsUniformlyFromTheWholeAllowedSet) {
    const PasswordRules any = Read("minlength: 16; maxlength: 16;");
    const PasswordRules bang = Read("minlength: 16; maxlength: 16; required: [!]; allowed: ascii-printable;");
    const int passwords = 2000;
    std::map<wchar_t, int> counts;
    int bangs = 0;
    for (int round = 0; round < passwords; ++round) {
        SecretText one, other;
        ASSERT_TRUE(MakePassword(any, &one) && MakePassword(bang, &other));
        for (size_t i = 0; i < 16; ++i) ++counts[one.data()[i]], bangs += other.data()[i] == L'!';
    }
    // Every printable character about equally often: 337 times, give or take 18.
    ASSERT_EQ(95u, counts.size()) << "every printable character, the space too";
    for (const auto& [c, count] : counts) EXPECT_NEAR(passwords * 16.0 / 95, count, 100) << static_cast<int>(c);
    // Uniform over the passwords that hold a "!" means as many of them on average as a uniform
    // draw holds given that it holds one (1.087); one "!" placed first and the rest drawn: 1.158.
    EXPECT_NEAR((16.0 / 95) / (1 - std::pow(94.0 / 95, 16)), static_cast<double>(bangs) / passwords, 0.03);
}

}  // namespace
