// The "passwordrules" reader against the syntax's documented examples and rules published for
// real sites, and against what it must refuse because no password could honour it.
#include "templates/password_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

PasswordCharacters Set(const std::string& characters) {
    PasswordCharacters set;
    for (unsigned char c : characters) set.set(c);
    return set;
}

const std::string kLower = "abcdefghijklmnopqrstuvwxyz", kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ", kDigit = "0123456789";
const std::string kSpecial = "-~!@#$%^&*_+=`|(){}[:;\"'<>,.? ]";
const std::string kPrintable = " !\"#$%&'()*+,-./" + kDigit + ":;<=>?@" + kUpper + "[\\]^_`" + kLower + "{|}~";

TEST(PasswordRulesTest, ReadsTheDocumentedExamplesAndPublishedRules) {
    struct Case {
        std::string text;
        int minLength, maxLength, maxConsecutive;
        std::string allowed;                 // empty: every printable ASCII character
        std::vector<std::string> required;
    };
    const Case cases[] = {
        // The syntax's own examples.
        {"required: lower; required: upper; required: digit; allowed: ascii-printable; max-consecutive: 3;", 8, 128, 3, "",
         {kLower, kUpper, kDigit}},
        {"required: upper; required: lower; required: digit; max-consecutive: 2; minlength: 8;", 8, 128, 2,
         kUpper + kLower + kDigit, {kUpper, kLower, kDigit}},
        {"max-consecutive: 2; minlength: 10; maxlength: 15; allowed: upper; required: digit, special;", 10, 15, 2,
         kUpper + kDigit + kSpecial, {kDigit + kSpecial}},
        // Published for sites: "-" first, "]" last, "[" and "\" inside, no last ";" nor space.
        {"minlength: 8; required: digit; required: [- !\"#$&'()*+,.:;<=>?@[^_`{|}~]]; allowed: lower, upper;", 8, 128, 0,
         kDigit + "- !\"#$&'()*+,.:;<=>?@[^_`{|}~]" + kLower + kUpper, {kDigit, "- !\"#$&'()*+,.:;<=>?@[^_`{|}~]"}},
        {"minlength: 8; maxlength: 32; required: lower, upper; required: digit; allowed: [-_./\\@$*&!#];", 8, 32, 0,
         kLower + kUpper + kDigit + "-_./\\@$*&!#", {kLower + kUpper, kDigit}},
        {"minlength: 6; maxlength: 50; max-consecutive: 2;required: lower, upper; required: digit; allowed: [_!@$]", 8, 50, 2,
         kLower + kUpper + kDigit + "_!@$", {kLower + kUpper, kDigit}},
        {"minlength: 8; maxlength: 40; allowed: lower, upper, digit, [-<=>~!|()@#{}$%,.?^'&*_+`:;\"[]];", 8, 40, 0,
         kLower + kUpper + kDigit + "-<=>~!|()@#{}$%,.?^'&*_+`:;\"[]", {}},
        // Letter case of names and white space anywhere between the parts; the stricter bound wins.
        {" MinLength :12 ;\tREQUIRED:Upper ,[!]\n; maxlength: 30; minlength: 10; Max-Consecutive: 4; max-consecutive: 9 ;;", 12, 30,
         4, kUpper + "!", {kUpper + "!"}},
    };
    for (const Case& c : cases) {
        PasswordRules rules;
        std::string problem;
        ASSERT_TRUE(ReadPasswordRules(c.text, &rules, &problem)) << c.text << ": " << problem;
        EXPECT_EQ(c.minLength, rules.minLength) << c.text;
        EXPECT_EQ(c.maxLength, rules.maxLength) << c.text;
        EXPECT_EQ(c.maxConsecutive, rules.maxConsecutive) << c.text;
        EXPECT_EQ(Set(c.allowed.empty() ? kPrintable : c.allowed), rules.allowed) << c.text;
        ASSERT_EQ(c.required.size(), rules.required.size()) << c.text;
        for (size_t i = 0; i < c.required.size(); ++i) EXPECT_EQ(Set(c.required[i]), rules.required[i]) << c.text;
    }
}

TEST(PasswordRulesTest, RefusesWhatNoPasswordCanHonourSayingWhat) {
    const std::pair<std::string, std::string> cases[] = {
        {"required: unicode;", "the class unicode cannot be honoured"},
        {"allowed: lower, digits;", "unknown character class \"digits\" in allowed"},
        {"minimum: 8;", "unknown property \"minimum\""},
        {"required lower;", "expected \":\" after required"},
        {"required: upper,;", "required names no character class"},
        {"required: [a-z];", "\"-\" stands in the class \"[a-z];\" of required elsewhere than first"},
        {"allowed: [abc; minlength: 8", "the class \"[abc; minlength: 8\" in allowed has no closing \"]\""},
        {"allowed: [];", "allowed has an empty class []"},
        {"allowed: [-\xC3\xA4\xC3\xB6];", "the class \"[-????];\" of allowed holds a character other than printable ASCII"},
        {"max-consecutive: 0;", "max-consecutive must be 1 or more"},
        {"minlength: 20; maxlength: 12;", "minlength 20 is above maxlength 12"},
        {"minlength: 4; maxlength: 4;", "maxlength 4 is below 8, the shortest password made"},
        {"minlength: 200;", "minlength 200 is above 128, the longest password made"},
        {"maxlength: 8; required: [a]; required: [b]; required: [c]; required: [d]; required: [e]; required: [f]; "
         "required: [g]; required: [h]; required: [i];", "the required classes cannot all be met in a password of 8 characters"},
        {"maxlength: 8; allowed: ascii-printable; required: [!]; required: [#]; required: [$]; required: [%];",
         "the rules are too tight: fewer than 1 in 10000 random passwords of 8 characters from the 95 allowed ones"},
        {"allowed: [a]; max-consecutive: 3;", "max-consecutive: 3 cannot be met in a password of 16 characters of 1 allowed"},
    };
    for (const auto& [text, message] : cases) {
        PasswordRules rules;
        rules.maxConsecutive = 7;
        std::string problem;
        EXPECT_FALSE(ReadPasswordRules(text, &rules, &problem)) << text;
        EXPECT_EQ(0u, problem.find(message)) << text << ": " << problem;
        EXPECT_EQ(7, rules.maxConsecutive) << "the rules stay as they were";
    }
}

}  // namespace
