#include "extension/xpath_subset.h"

#include <algorithm>

namespace {

class Reader {
public:
    Reader(const wchar_t* text, size_t length) : m_text(text), m_length(length) {}

    void SkipSpace() {
        while (m_at < m_length && (m_text[m_at] == L' ' || m_text[m_at] == L'\t' || m_text[m_at] == L'\r' ||
                                   m_text[m_at] == L'\n'))
            ++m_at;
    }
    bool AtEnd() const { return m_at >= m_length; }
    wchar_t Peek(size_t ahead = 0) const { return m_at + ahead < m_length ? m_text[m_at + ahead] : L'\0'; }
    bool Take(wchar_t c) {
        if (Peek() != c) return false;
        ++m_at;
        return true;
    }
    // An ASCII name; the subset takes no other (MSXML decides about the rest).
    bool Name(std::wstring* name) {
        const wchar_t c = Peek();
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_')) return false;
        const size_t start = m_at;
        while (IsNameChar(Peek())) ++m_at;
        name->assign(m_text + start, m_at - start);
        // A name followed by "(" or ":" is a function, a node test or an axis: not ours.
        SkipSpace();
        return Peek() != L'(' && Peek() != L':';
    }
    bool Literal(std::wstring* literal) {
        const wchar_t quote = Peek();
        if (quote != L'\'' && quote != L'"') return false;
        for (size_t end = m_at + 1; end < m_length; ++end)
            if (m_text[end] == quote) {
                literal->assign(m_text + m_at + 1, end - m_at - 1);
                m_at = end + 1;
                return true;
            }
        return false;
    }
    // Digits only; a number with a fraction or an exponent is not ours.
    bool Position(long* position) {
        if (!(Peek() >= L'0' && Peek() <= L'9')) return false;
        long value = 0;
        while (Peek() >= L'0' && Peek() <= L'9') {
            if (value < 100000000) value = value * 10 + (Peek() - L'0');
            ++m_at;
        }
        if (Peek() == L'.' || Peek() == L'e' || Peek() == L'E') return false;
        *position = value;
        return true;
    }
    // The operator "and", not the start of a longer name.
    bool TakeAnd() {
        if (Peek() == L'a' && Peek(1) == L'n' && Peek(2) == L'd' && !IsNameChar(Peek(3))) {
            m_at += 3;
            return true;
        }
        return false;
    }

private:
    static bool IsNameChar(wchar_t c) {
        return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
               c == L'-' || c == L'.';
    }

    const wchar_t* m_text;
    size_t m_length;
    size_t m_at = 0;
};

}  // namespace

bool XPathSubset::Parse(const wchar_t* expression, size_t length) {
    m_steps.clear();
    if (!expression) return false;
    Reader reader(expression, length);
    reader.SkipSpace();
    bool descendant = false;
    if (reader.Take(L'/')) descendant = reader.Take(L'/');
    for (;;) {
        Step step;
        step.descendant = descendant;
        reader.SkipSpace();
        if (reader.Take(L'*'))
            step.name = L"*";
        else if (!reader.Name(&step.name))
            return false;
        reader.SkipSpace();
        while (reader.Take(L'[')) {
            Predicate predicate;
            reader.SkipSpace();
            if (reader.Position(&predicate.position)) {
                reader.SkipSpace();
            } else {
                for (;;) {
                    Test test;
                    if (!reader.Take(L'@') || !reader.Name(&test.attribute)) return false;
                    reader.SkipSpace();
                    if (reader.Take(L'=')) {
                        test.comparison = Test::kEqual;
                    } else if (reader.Peek() == L'!' && reader.Peek(1) == L'=') {
                        reader.Take(L'!');
                        reader.Take(L'=');
                        test.comparison = Test::kNotEqual;
                    }
                    if (test.comparison != Test::kPresent) {
                        reader.SkipSpace();
                        if (!reader.Literal(&test.literal)) return false;
                        reader.SkipSpace();
                    }
                    predicate.tests.push_back(std::move(test));
                    if (!reader.TakeAnd()) break;
                    reader.SkipSpace();
                }
            }
            if (!reader.Take(L']')) return false;
            step.predicates.push_back(std::move(predicate));
            reader.SkipSpace();
        }
        m_steps.push_back(std::move(step));
        if (reader.AtEnd()) return true;
        if (!reader.Take(L'/')) return false;
        descendant = reader.Take(L'/');
    }
}

bool XPathSubset::Matches(const PageMirror& mirror, PageMirror::Index element, const Predicate& predicate) const {
    for (const Test& test : predicate.tests) {
        std::wstring_view value;
        if (!mirror.AttributeValue(element, test.attribute, &value)) return false;
        if (test.comparison == Test::kEqual && value != test.literal) return false;
        if (test.comparison == Test::kNotEqual && value == test.literal) return false;
    }
    return true;
}

PageMirror::Index XPathSubset::FirstMatch(const PageMirror& mirror) const {
    using Index = PageMirror::Index;
    if (mirror.empty() || m_steps.empty()) return PageMirror::kNone;
    // The context: the document node (the mirror's root element is its only child) or elements,
    // in document order, which is the order of the mirror's table.
    bool contextIsDocument = true;
    std::vector<Index> context;
    std::vector<Index> parents, candidates, results;
    for (const Step& step : m_steps) {
        // The nodes whose children the step looks at.
        const bool documentParent = contextIsDocument;
        parents.clear();
        if (step.descendant) {
            Index coveredTo = 0;
            auto addSubtree = [&](Index from, Index to) {
                for (Index i = std::max(from, coveredTo); i < to; ++i)
                    if (mirror.node(i).kind == PageMirror::kElement) parents.push_back(i);
                coveredTo = std::max(coveredTo, to);
            };
            if (contextIsDocument)
                addSubtree(0, mirror.size());
            else
                for (Index from : context) addSubtree(from, mirror.node(from).subtreeEnd);
        } else if (!contextIsDocument) {
            parents = context;
        }

        results.clear();
        auto collect = [&](Index firstChild) {
            candidates.clear();
            for (Index child = firstChild; child != PageMirror::kNone; child = mirror.node(child).nextSibling) {
                if (mirror.node(child).kind != PageMirror::kElement) continue;
                if (step.name != L"*" && mirror.Name(child) != step.name) continue;
                candidates.push_back(child);
            }
            for (const Predicate& predicate : step.predicates) {
                if (!predicate.tests.empty()) {
                    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                                    [&](Index c) { return !Matches(mirror, c, predicate); }),
                                     candidates.end());
                    continue;
                }
                // [N]: the N-th of what is left; [0] selects nothing.
                const size_t position = static_cast<size_t>(predicate.position);
                const Index keep = position >= 1 && position <= candidates.size() ? candidates[position - 1]
                                                                                   : PageMirror::kNone;
                candidates.clear();
                if (keep != PageMirror::kNone) candidates.push_back(keep);
            }
            results.insert(results.end(), candidates.begin(), candidates.end());
        };
        if (documentParent) collect(0);
        for (Index parent : parents) collect(mirror.node(parent).firstChild);

        std::sort(results.begin(), results.end());
        results.erase(std::unique(results.begin(), results.end()), results.end());
        if (results.empty()) return PageMirror::kNone;
        context.swap(results);
        contextIsDocument = false;
    }
    return context.front();
}
