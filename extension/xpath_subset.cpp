#include "extension/xpath_subset.h"

#include <algorithm>
#include <unordered_set>

namespace {

using Index = PageMirror::Index;
using Condition = XPathSubset::Condition;
using Operand = XPathSubset::Operand;
using Predicate = XPathSubset::Predicate;
using Step = XPathSubset::Step;

// Parentheses and not() nest; a page's expression must not nest the parser off the stack.
constexpr int kDeepestCondition = 16;

bool IsNameChar(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
           c == L'-' || c == L'.';
}

// XPath's white space, which normalize-space() strips and collapses.
bool IsXPathSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

class Reader {
public:
    Reader(const wchar_t* text, size_t length) : m_text(text), m_length(length) {}

    void SkipSpace() {
        while (m_at < m_length && IsXPathSpace(m_text[m_at])) ++m_at;
    }
    bool AtEnd() const { return m_at >= m_length; }
    wchar_t Peek(size_t ahead = 0) const { return m_at + ahead < m_length ? m_text[m_at + ahead] : L'\0'; }
    bool Take(wchar_t c) {
        if (Peek() != c) return false;
        ++m_at;
        return true;
    }
    // The token after white space: Take after SkipSpace.
    bool TakeToken(wchar_t c) {
        SkipSpace();
        return Take(c);
    }
    // An ASCII name as it stands; the subset takes no other (MSXML decides about the rest).
    bool Identifier(std::wstring* name) {
        const wchar_t c = Peek();
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_')) return false;
        const size_t start = m_at;
        while (IsNameChar(Peek())) ++m_at;
        name->assign(m_text + start, m_at - start);
        return true;
    }
    // A name test: a name not followed by "(" or ":" (a function, a node test or an axis).
    bool Name(std::wstring* name) {
        if (!Identifier(name)) return false;
        SkipSpace();
        return Peek() != L'(' && Peek() != L':';
    }
    // `word` as a whole name, then "(" when `call`, or "::" when `axis`; nothing taken otherwise.
    bool TakeWord(const wchar_t* word, bool call = false, bool axis = false) {
        const size_t start = m_at;
        size_t n = 0;
        while (word[n] && Peek(n) == word[n]) ++n;
        if (word[n] || IsNameChar(Peek(n))) return false;
        m_at += n;
        SkipSpace();
        if ((call && !Take(L'(')) || (axis && !(Peek() == L':' && Peek(1) == L':'))) {
            m_at = start;
            return false;
        }
        if (axis) m_at += 2;
        return true;
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

private:
    const wchar_t* m_text;
    size_t m_length;
    size_t m_at = 0;
};

// @name, text(), "." (not "..", not a number), each alone or inside normalize-space().
bool ParseOperand(Reader& reader, Operand* operand) {
    reader.SkipSpace();
    if (reader.TakeWord(L"normalize-space", true)) {
        operand->normalized = true;
        reader.SkipSpace();
        if (reader.Take(L')')) {
            operand->source = Operand::kSelf;
            return true;
        }
        Operand inner;
        if (!ParseOperand(reader, &inner) || inner.normalized || !reader.TakeToken(L')')) return false;
        operand->source = inner.source;
        operand->attribute = std::move(inner.attribute);
        return true;
    }
    if (reader.Take(L'@')) {
        operand->source = Operand::kAttribute;
        return reader.Name(&operand->attribute);
    }
    if (reader.TakeWord(L"text", true)) {
        operand->source = Operand::kText;
        return reader.TakeToken(L')');
    }
    if (reader.Peek() == L'.' && !(reader.Peek(1) == L'.' || (reader.Peek(1) >= L'0' && reader.Peek(1) <= L'9'))) {
        reader.Take(L'.');
        operand->source = Operand::kSelf;
        return true;
    }
    return false;
}

bool ParseOr(Reader& reader, Condition* condition, int depth);

bool ParseUnary(Reader& reader, Condition* condition, int depth) {
    if (depth > kDeepestCondition) return false;
    reader.SkipSpace();
    if (reader.Take(L'(')) return ParseOr(reader, condition, depth + 1) && reader.TakeToken(L')');
    if (reader.TakeWord(L"not", true)) {
        condition->kind = Condition::kNot;
        condition->operands.emplace_back();
        return ParseOr(reader, &condition->operands.back(), depth + 1) && reader.TakeToken(L')');
    }
    const bool contains = reader.TakeWord(L"contains", true);
    if (contains || reader.TakeWord(L"starts-with", true)) {
        condition->kind = contains ? Condition::kContains : Condition::kStartsWith;
        if (!ParseOperand(reader, &condition->operand) || !reader.TakeToken(L',')) return false;
        reader.SkipSpace();
        return reader.Literal(&condition->literal) && reader.TakeToken(L')');
    }
    if (!ParseOperand(reader, &condition->operand)) return false;
    reader.SkipSpace();
    if (reader.Take(L'='))
        condition->kind = Condition::kEqual;
    else if (reader.Peek() == L'!' && reader.Peek(1) == L'=') {
        reader.Take(L'!');
        reader.Take(L'=');
        condition->kind = Condition::kNotEqual;
    } else {
        condition->kind = Condition::kPresent;
        return true;
    }
    reader.SkipSpace();
    return reader.Literal(&condition->literal);
}

bool ParseAnd(Reader& reader, Condition* condition, int depth) {
    Condition first;
    if (!ParseUnary(reader, &first, depth)) return false;
    reader.SkipSpace();
    if (!reader.TakeWord(L"and")) {
        *condition = std::move(first);
        return true;
    }
    condition->kind = Condition::kAnd;
    condition->operands.push_back(std::move(first));
    do {
        condition->operands.emplace_back();
        if (!ParseUnary(reader, &condition->operands.back(), depth)) return false;
        reader.SkipSpace();
    } while (reader.TakeWord(L"and"));
    return true;
}

bool ParseOr(Reader& reader, Condition* condition, int depth) {
    Condition first;
    if (!ParseAnd(reader, &first, depth)) return false;
    reader.SkipSpace();
    if (!reader.TakeWord(L"or")) {
        *condition = std::move(first);
        return true;
    }
    condition->kind = Condition::kOr;
    condition->operands.push_back(std::move(first));
    do {
        condition->operands.emplace_back();
        if (!ParseAnd(reader, &condition->operands.back(), depth)) return false;
        reader.SkipSpace();
    } while (reader.TakeWord(L"or"));
    return true;
}

bool ParsePredicate(Reader& reader, Predicate* predicate) {
    reader.SkipSpace();
    if (reader.Position(&predicate->position)) {
        predicate->kind = Predicate::kPosition;
    } else if (reader.TakeWord(L"last", true)) {
        predicate->kind = Predicate::kLast;
        if (!reader.TakeToken(L')')) return false;
    } else {
        predicate->kind = Predicate::kCondition;
        if (!ParseOr(reader, &predicate->condition, 0)) return false;
    }
    return reader.TakeToken(L']');
}

// The element's text children as the XML form has them: each run of adjacent text nodes is one
// text node there, and a run without characters is none. `visit` returns true to stop.
template <typename Visit>
bool VisitTextChildren(const PageMirror& mirror, Index element, std::wstring& scratch, Visit visit) {
    for (Index child = mirror.node(element).firstChild; child != PageMirror::kNone;) {
        if (mirror.node(child).kind != PageMirror::kText) {
            child = mirror.node(child).nextSibling;
            continue;
        }
        const Index first = child;
        Index count = 0;
        size_t length = 0;
        for (; child != PageMirror::kNone && mirror.node(child).kind == PageMirror::kText;
             child = mirror.node(child).nextSibling) {
            ++count;
            length += mirror.node(child).textLength;
        }
        if (length == 0) continue;
        if (count == 1) {
            if (visit(mirror.Value(first))) return true;
            continue;
        }
        scratch.clear();
        for (Index t = first; t != child; t = mirror.node(t).nextSibling) scratch += mirror.Value(t);
        if (visit(std::wstring_view(scratch))) return true;
    }
    return false;
}

// The string value of an element: its descendant text in document order (not comments).
std::wstring_view StringValue(const PageMirror& mirror, Index element, std::wstring& scratch) {
    scratch.clear();
    Index only = PageMirror::kNone;
    size_t pieces = 0;
    for (Index i = element + 1; i < mirror.node(element).subtreeEnd; ++i) {
        if (mirror.node(i).kind != PageMirror::kText || mirror.node(i).textLength == 0) continue;
        if (++pieces == 1) {
            only = i;
            continue;
        }
        if (pieces == 2) scratch.assign(mirror.Value(only));
        scratch += mirror.Value(i);
    }
    if (pieces == 1) return mirror.Value(only);
    return scratch;
}

std::wstring_view Normalize(std::wstring_view text, std::wstring& out) {
    out.clear();
    for (size_t i = 0; i < text.size();) {
        if (IsXPathSpace(text[i])) {
            while (i < text.size() && IsXPathSpace(text[i])) ++i;
            if (!out.empty() && i < text.size()) out += L' ';
            continue;
        }
        out += text[i++];
    }
    return out;
}

class Tester {
public:
    explicit Tester(const PageMirror& mirror) : m_mirror(mirror) {}

    bool Holds(Index element, const Condition& condition) {
        switch (condition.kind) {
        case Condition::kOr:
            for (const Condition& operand : condition.operands)
                if (Holds(element, operand)) return true;
            return false;
        case Condition::kAnd:
            for (const Condition& operand : condition.operands)
                if (!Holds(element, operand)) return false;
            return true;
        case Condition::kNot:
            return !Holds(element, condition.operands.front());
        case Condition::kContains:
        case Condition::kStartsWith: {
            // The string of a node-set is that of its first node, "" when it is empty.
            const std::wstring_view text = String(element, condition.operand);
            if (condition.kind == Condition::kContains) return text.find(condition.literal) != std::wstring_view::npos;
            return text.substr(0, condition.literal.size()) == condition.literal;
        }
        case Condition::kPresent:
        case Condition::kEqual:
        case Condition::kNotEqual:
            break;
        }
        const Operand& operand = condition.operand;
        if (operand.normalized) {
            const std::wstring_view text = String(element, operand);
            if (condition.kind == Condition::kPresent) return !text.empty();
            return (text == condition.literal) == (condition.kind == Condition::kEqual);
        }
        // A node-set compared with a string holds when some node's value compares so.
        auto compares = [&](std::wstring_view value) {
            return condition.kind == Condition::kPresent || (value == condition.literal) == (condition.kind == Condition::kEqual);
        };
        switch (operand.source) {
        case Operand::kAttribute: {
            std::wstring_view value;
            return m_mirror.AttributeValue(element, operand.attribute, &value) && compares(value);
        }
        case Operand::kText:
            return VisitTextChildren(m_mirror, element, m_scratch, compares);
        case Operand::kSelf:
            return compares(StringValue(m_mirror, element, m_scratch));
        }
        return false;
    }

private:
    std::wstring_view String(Index element, const Operand& operand) {
        std::wstring_view text;
        switch (operand.source) {
        case Operand::kAttribute:
            if (!m_mirror.AttributeValue(element, operand.attribute, &text)) text = std::wstring_view();
            break;
        case Operand::kText:
            VisitTextChildren(m_mirror, element, m_scratch, [&](std::wstring_view run) {
                text = run;
                return true;
            });
            break;
        case Operand::kSelf:
            text = StringValue(m_mirror, element, m_scratch);
            break;
        }
        if (!operand.normalized) return text;
        return Normalize(text, m_normalized);
    }

    const PageMirror& m_mirror;
    std::wstring m_scratch, m_normalized;
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
        step.axis = descendant ? Step::kDescendant : Step::kChild;
        reader.SkipSpace();
        const bool following = reader.TakeWord(L"following-sibling", false, true);
        if (following || reader.TakeWord(L"preceding-sibling", false, true)) {
            // "//" before a sibling axis also takes the siblings of text and comments.
            if (descendant) return false;
            step.axis = following ? Step::kFollowingSibling : Step::kPrecedingSibling;
        } else {
            reader.TakeWord(L"child", false, true);
        }
        reader.SkipSpace();
        if (reader.Take(L'*'))
            step.name = L"*";
        else if (!reader.Name(&step.name))
            return false;
        while (reader.TakeToken(L'[')) {
            Predicate predicate;
            if (!ParsePredicate(reader, &predicate)) return false;
            step.positional = step.positional || predicate.kind != Predicate::kCondition;
            step.predicates.push_back(std::move(predicate));
        }
        m_steps.push_back(std::move(step));
        reader.SkipSpace();
        if (reader.AtEnd()) return true;
        if (!reader.Take(L'/')) return false;
        descendant = reader.Take(L'/');
    }
}

PageMirror::Index XPathSubset::FirstMatch(const PageMirror& mirror) const {
    if (mirror.empty() || m_steps.empty()) return PageMirror::kNone;
    Tester tester(mirror);
    // The context: the document node (the mirror's root element is its only child) or elements,
    // in document order, which is the order of the mirror's table.
    bool contextIsDocument = true;
    std::vector<Index> context;
    std::vector<Index> parents, candidates, results;
    std::unordered_set<Index> seenParents;

    // The step's candidates, in the axis's order (proximity), filtered by its predicates.
    auto filter = [&](const Step& step) {
        for (const Predicate& predicate : step.predicates) {
            if (predicate.kind == Predicate::kCondition) {
                candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                                [&](Index c) { return !tester.Holds(c, predicate.condition); }),
                                 candidates.end());
                continue;
            }
            // [N]: the N-th of what is left; [0] selects nothing.
            Index keep = PageMirror::kNone;
            if (predicate.kind == Predicate::kLast) {
                if (!candidates.empty()) keep = candidates.back();
            } else if (predicate.position >= 1 && static_cast<size_t>(predicate.position) <= candidates.size()) {
                keep = candidates[static_cast<size_t>(predicate.position) - 1];
            }
            candidates.clear();
            if (keep != PageMirror::kNone) candidates.push_back(keep);
        }
        results.insert(results.end(), candidates.begin(), candidates.end());
    };
    auto named = [&](const Step& step, Index node) {
        return mirror.node(node).kind == PageMirror::kElement && (step.name == L"*" || mirror.Name(node) == step.name);
    };

    for (const Step& step : m_steps) {
        results.clear();
        if (step.axis == Step::kFollowingSibling || step.axis == Step::kPrecedingSibling) {
            // The document node has no siblings.
            if (contextIsDocument) return PageMirror::kNone;
            const bool following = step.axis == Step::kFollowingSibling;
            // Without positions the siblings after the first context of a parent (before the
            // last one) are all that the others add, so each parent is gone through once.
            seenParents.clear();
            for (size_t k = 0; k < context.size(); ++k) {
                const Index from = following ? context[k] : context[context.size() - 1 - k];
                const Index parent = mirror.node(from).parent;
                if (!step.positional && !seenParents.insert(parent).second) continue;
                candidates.clear();
                if (following) {
                    for (Index s = mirror.node(from).nextSibling; s != PageMirror::kNone; s = mirror.node(s).nextSibling)
                        if (named(step, s)) candidates.push_back(s);
                } else if (parent != PageMirror::kNone) {
                    for (Index s = mirror.node(parent).firstChild; s != from; s = mirror.node(s).nextSibling)
                        if (named(step, s)) candidates.push_back(s);
                    std::reverse(candidates.begin(), candidates.end());
                }
                filter(step);
            }
        } else {
            // The nodes whose children the step looks at.
            const bool documentParent = contextIsDocument;
            parents.clear();
            if (step.axis == Step::kDescendant) {
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
            auto collect = [&](Index firstChild) {
                candidates.clear();
                for (Index child = firstChild; child != PageMirror::kNone; child = mirror.node(child).nextSibling)
                    if (named(step, child)) candidates.push_back(child);
                filter(step);
            };
            if (documentParent) collect(0);
            for (Index parent : parents) collect(mirror.node(parent).firstChild);
        }

        std::sort(results.begin(), results.end());
        results.erase(std::unique(results.begin(), results.end()), results.end());
        if (results.empty()) return PageMirror::kNone;
        context.swap(results);
        contextIsDocument = false;
    }
    return context.front();
}
