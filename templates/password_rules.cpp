#include "templates/password_rules.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

// The syntax's "special": punctuation without "/" and "\", and the space.
constexpr char kSpecial[] = "-~!@#$%^&*_+=`|(){}[:;\"'<>,.? ]";

// Rules under which fewer uniform draws than this pass are refused: the maker would draw for a
// long time, and no site's real rules come near it.
constexpr double kLeastPassingShare = 1e-4;
// The passing share is counted over every subset of the required rules.
constexpr size_t kMaxRequiredRules = 16;
// Larger numbers read as this one: every bound above is far below it.
constexpr long long kLargestNumber = 1000000;

bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

PasswordCharacters Range(char first, char last) {
    PasswordCharacters set;
    for (int c = first; c <= last; ++c) set.set(c);
    return set;
}

PasswordCharacters Of(const std::string& characters) {
    PasswordCharacters set;
    for (unsigned char c : characters)
        if (IsPrintable(c)) set.set(c);
    return set;
}

bool NamedClass(const std::string& name, PasswordCharacters* set) {
    if (name == "upper") *set = Range('A', 'Z');
    else if (name == "lower") *set = Range('a', 'z');
    else if (name == "digit") *set = Range('0', '9');
    else if (name == "special") *set = Of(kSpecial);
    else if (name == "ascii-printable") *set = Range(' ', '~');
    else return false;
    return true;
}

// A piece of the text for a message: other than printable ASCII shows as "?", so that no
// message carries half a UTF-8 sequence.
std::string Quote(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text.substr(0, 24)) quoted += IsPrintable(c) ? static_cast<char>(c) : '?';
    return quoted + (text.size() > 24 ? "...\"" : "\"");
}

// The required rules that matter for counting: each within the allowed characters, and none
// that a smaller one implies (a password with a digit has a digit or an upper-case letter).
std::vector<PasswordCharacters> Essential(const PasswordRules& rules) {
    std::vector<PasswordCharacters> sets;
    for (const PasswordCharacters& set : rules.required) sets.push_back(set & rules.allowed);
    std::stable_sort(sets.begin(), sets.end(), [](const auto& a, const auto& b) { return a.count() < b.count(); });
    std::vector<PasswordCharacters> kept;
    for (const PasswordCharacters& set : sets)
        if (std::none_of(kept.begin(), kept.end(), [&](const auto& smaller) { return (smaller & ~set).none(); }))
            kept.push_back(set);
    return kept;
}

// The share of uniform draws of `length` characters that hold a character of every set, by
// inclusion and exclusion over the sets that are missed.
double ShareMeetingRequired(const std::vector<PasswordCharacters>& required, size_t allowed, int length) {
    double share = 0;
    for (unsigned long subset = 0; subset < (1ul << required.size()); ++subset) {
        PasswordCharacters missed;
        for (size_t i = 0; i < required.size(); ++i)
            if (subset & (1ul << i)) missed |= required[i];
        const double term = std::pow(static_cast<double>(allowed - missed.count()) / allowed, length);
        share += __builtin_popcountl(subset) % 2 ? -term : term;
    }
    return share;
}

// The share of uniform draws with no run of one character longer than `longest` (0: any).
double ShareWithinRuns(size_t allowed, int longest, int length) {
    if (longest == 0 || longest >= length) return 1;
    std::vector<double> runs(longest + 1, 0.0);   // runs[j]: the draw so far ends in a run of j
    runs[1] = 1;
    for (int i = 1; i < length; ++i) {
        std::vector<double> next(longest + 1, 0.0);
        double total = 0;
        for (int j = 1; j <= longest; ++j) total += runs[j];
        next[1] = total * (allowed - 1) / allowed;
        for (int j = 1; j < longest; ++j) next[j + 1] = runs[j] / allowed;
        runs.swap(next);
    }
    double share = 0;
    for (double part : runs) share += part;
    return share;
}

class RulesReader {
public:
    explicit RulesReader(const std::string& text) : m_text(text) {}

    std::string problem;

    bool Read(PasswordRules* rules) {
        for (;;) {
            SkipSpace();
            if (AtEnd()) return Finish(rules);
            if (Take(';')) continue;
            const std::string name = Word();
            if (name.empty()) return Fail("expected a property name at " + Quote(Rest()));
            SkipSpace();
            if (!Take(':')) return Fail("expected \":\" after " + name);
            if (!Value(name)) return false;
            SkipSpace();
            if (!AtEnd() && !Take(';')) return Fail("expected \";\" after the value of " + name + " at " + Quote(Rest()));
        }
    }

private:
    bool Fail(const std::string& text) {
        problem = text;
        return false;
    }
    bool AtEnd() const { return m_at == m_text.size(); }
    std::string Rest() const { return m_text.substr(m_at); }
    bool Take(char c) {
        if (AtEnd() || m_text[m_at] != c) return false;
        ++m_at;
        return true;
    }
    void SkipSpace() {
        while (!AtEnd() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\r' || m_text[m_at] == '\n'))
            ++m_at;
    }
    // A property or class name, in lower case: letters, digits and "-".
    std::string Word() {
        std::string word;
        for (; !AtEnd(); ++m_at) {
            const unsigned char c = m_text[m_at];
            if (!std::isalnum(c) && c != '-') break;
            word += static_cast<char>(std::tolower(c));
        }
        return word;
    }

    bool Value(const std::string& name) {
        if (name == "required" || name == "allowed") {
            PasswordCharacters set;
            if (!Classes(name, &set)) return false;
            if (name == "required") m_required.push_back(set);
            else m_allowed |= set, m_anyAllowed = true;
            return true;
        }
        long long* bound = name == "minlength" ? &m_minLength : name == "maxlength" ? &m_maxLength
                         : name == "max-consecutive" ? &m_maxConsecutive : nullptr;
        if (!bound)
            return Fail("unknown property \"" + name + "\" (the properties are minlength, maxlength, required, allowed "
                        "and max-consecutive)");
        SkipSpace();
        long long value = 0;
        const size_t start = m_at;
        for (; !AtEnd() && std::isdigit(static_cast<unsigned char>(m_text[m_at])); ++m_at)
            value = std::min(value * 10 + (m_text[m_at] - '0'), kLargestNumber);
        if (m_at == start) return Fail(name + " must be a whole number of 0 or more");
        if (name == "max-consecutive" && value == 0) return Fail("max-consecutive must be 1 or more");
        // Given twice, the stricter one holds.
        *bound = *bound < 0 ? value : name == "minlength" ? std::max(*bound, value) : std::min(*bound, value);
        return true;
    }

    // One or more classes separated by ",": a character of any of them.
    bool Classes(const std::string& property, PasswordCharacters* set) {
        for (;;) {
            SkipSpace();
            if (Take('[')) {
                if (!Custom(property, set)) return false;
            } else {
                const std::string name = Word();
                PasswordCharacters named;
                if (name.empty()) return Fail(property + " names no character class at " + Quote(Rest()));
                if (name == "unicode")
                    return Fail("the class unicode cannot be honoured: passwords are made of printable ASCII characters");
                if (!NamedClass(name, &named))
                    return Fail("unknown character class \"" + name + "\" in " + property +
                                " (the classes are upper, lower, digit, special, ascii-printable and characters in [])");
                *set |= named;
            }
            SkipSpace();
            if (!Take(',')) return true;
        }
    }

    // Characters in brackets, after the "[". A "-" only first and a "]" only last, as the syntax
    // has them ("[-_]", "[!?]]"): a "-" elsewhere is kept for ranges, which the syntax leaves
    // for later.
    bool Custom(const std::string& property, PasswordCharacters* set) {
        const size_t start = m_at - 1;
        PasswordCharacters custom;
        if (Take('-')) custom.set('-');
        for (;;) {
            if (AtEnd()) return Fail("the class " + Quote(m_text.substr(start)) + " in " + property + " has no closing \"]\"");
            const unsigned char c = m_text[m_at++];
            if (c == ']' && (AtEnd() || m_text[m_at] != ']')) break;
            if (c == '-')
                return Fail("\"-\" stands in the class " + Quote(m_text.substr(start)) + " of " + property +
                            " elsewhere than first, right after \"[\"");
            if (!IsPrintable(c))
                return Fail("the class " + Quote(m_text.substr(start)) + " of " + property +
                            " holds a character other than printable ASCII, which passwords are made of");
            custom.set(c);
        }
        if (custom.none()) return Fail(property + " has an empty class []");
        *set |= custom;
        return true;
    }

    bool Finish(PasswordRules* rules) {
        const std::string min = std::to_string(m_minLength), max = std::to_string(m_maxLength);
        if (m_minLength >= 0 && m_maxLength >= 0 && m_minLength > m_maxLength)
            return Fail("minlength " + min + " is above maxlength " + max);
        if (m_maxLength >= 0 && m_maxLength < kMinPolicyLength)
            return Fail("maxlength " + max + " is below " + std::to_string(kMinPolicyLength) + ", the shortest password made");
        if (m_minLength > kMaxPolicyLength)
            return Fail("minlength " + min + " is above " + std::to_string(kMaxPolicyLength) + ", the longest password made");
        PasswordRules read;
        read.minLength = static_cast<int>(std::max<long long>(m_minLength, kMinPolicyLength));
        if (m_maxLength >= 0) read.maxLength = static_cast<int>(std::min<long long>(m_maxLength, kMaxPolicyLength));
        read.maxConsecutive = static_cast<int>(std::max<long long>(m_maxConsecutive, 0));
        read.required = m_required;
        // The syntax's default: the required characters, or every printable one without either.
        read.allowed = m_anyAllowed || !m_required.empty() ? m_allowed : Range(' ', '~');
        for (const PasswordCharacters& set : m_required) read.allowed |= set;
        const std::string unfit = PasswordRulesProblem(read);
        if (!unfit.empty()) return Fail(unfit);
        *rules = read;
        return true;
    }

    const std::string& m_text;
    size_t m_at = 0;
    long long m_minLength = -1, m_maxLength = -1, m_maxConsecutive = -1;
    PasswordCharacters m_allowed;
    bool m_anyAllowed = false;
    std::vector<PasswordCharacters> m_required;
};

}  // namespace

int PasswordLength(const PasswordRules& rules) {
    return std::min(std::max(kDefaultPasswordLength, rules.minLength), rules.maxLength);
}

PasswordRules RulesOfPolicy(const PasswordPolicy& policy) {
    PasswordRules rules;
    rules.minLength = rules.maxLength = policy.length;
    if (policy.lower) rules.required.push_back(Range('a', 'z'));
    if (policy.upper) rules.required.push_back(Range('A', 'Z'));
    if (policy.digits) rules.required.push_back(Range('0', '9'));
    if (!policy.symbols.empty()) rules.required.push_back(Of(policy.symbols));
    for (const PasswordCharacters& set : rules.required) rules.allowed |= set;
    return rules;
}

std::string PasswordRulesProblem(const PasswordRules& rules) {
    const size_t allowed = rules.allowed.count();
    if (allowed == 0) return "no characters to make a password of";
    const int length = PasswordLength(rules);
    const std::string made = " in a password of " + std::to_string(length) + " characters";
    const std::vector<PasswordCharacters> required = Essential(rules);
    if (required.size() > kMaxRequiredRules)
        return "more than " + std::to_string(kMaxRequiredRules) + " different required rules";
    const double met = ShareMeetingRequired(required, allowed, length);
    const double runs = ShareWithinRuns(allowed, rules.maxConsecutive, length);
    if (met < 1e-9) return "the required classes cannot all be met" + made;
    if (runs < 1e-9)
        return "max-consecutive: " + std::to_string(rules.maxConsecutive) + " cannot be met" + made + " of " +
               std::to_string(allowed) + " allowed characters";
    // Every rule holds in at least this share of uniform draws.
    if (met + runs - 1 < kLeastPassingShare)
        return "the rules are too tight: fewer than 1 in " + std::to_string(static_cast<int>(1 / kLeastPassingShare)) +
               " random passwords of " + std::to_string(length) + " characters from the " + std::to_string(allowed) +
               " allowed ones meet them all";
    return {};
}

bool ReadPasswordRules(const std::string& text, PasswordRules* rules, std::string* problem) {
    RulesReader reader(text);
    if (reader.Read(rules)) return true;
    *problem = reader.problem;
    return false;
}
