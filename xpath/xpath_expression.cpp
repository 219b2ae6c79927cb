#include "xpath/xpath_expression.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace xpath {

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsNameStart(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_'; }
bool IsNameChar(wchar_t c) { return IsNameStart(c) || IsDigit(c) || c == L'-' || c == L'.'; }
bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Digits with an optional fraction from text[*at], as libxml2 reads them: the integer part
// digit by digit, the fraction as one integer divided by its power of ten. False (and *at
// unchanged) when the form is one to leave to MSXML.
enum class Digits { kNone, kRead, kRefused };
Digits ReadDigits(std::wstring_view text, size_t* at, double* value) {
    size_t i = *at;
    double integer = 0;
    bool any = false;
    int significant = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        integer = integer * 10 + (text[i] - L'0');
        any = true;
        if (significant || text[i] != L'0') ++significant;
    }
    double result = integer;
    if (i < text.size() && text[i] == L'.') {
        ++i;
        if (!any && !(i < text.size() && IsDigit(text[i]))) return Digits::kNone;
        double fraction = 0;
        int places = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            fraction = fraction * 10 + (text[i] - L'0');
            ++places;
            if (significant || text[i] != L'0') ++significant;
        }
        // libxml2 reads at most 20 digits after the leading zeros; past 15 significant digits
        // or 22 places (powers of ten beyond 1e22 are inexact) the readers may round apart.
        if (places > 22) return Digits::kRefused;
        if (places) result = integer + fraction / std::pow(10.0, places);
        any = true;
    }
    if (!any) return Digits::kNone;
    if (significant > 15) return Digits::kRefused;
    // libxml2 reads an exponent, XPath 1.0 has none.
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) return Digits::kRefused;
    *at = i;
    *value = result;
    return Digits::kRead;
}

enum class Token : uint8_t {
    kEnd, kName, kAnyName, kLiteral, kNumber, kSlash, kDoubleSlash, kDot, kDotDot, kAt, kComma,
    kOpen, kClose, kOpenBracket, kCloseBracket, kColonColon, kPipe, kPlus, kMinus, kEqual, kNotEqual,
    kLess, kLessOrEqual, kGreater, kGreaterOrEqual, kMultiply, kAnd, kOr, kDiv, kMod
};

struct Lexeme {
    Token token;
    std::wstring text;     // names and literals
    double number = 0;
    bool call = false;     // a name followed by "("
    bool axis = false;     // a name followed by "::"
};

// A token after one of these starts an operand, so "*" is a name test there and "and", "or",
// "div", "mod" are names; after any other token they are operators.
bool BeforeOperand(Token token) {
    switch (token) {
    case Token::kAt: case Token::kColonColon: case Token::kOpen: case Token::kOpenBracket: case Token::kComma:
    case Token::kSlash: case Token::kDoubleSlash: case Token::kPipe: case Token::kPlus: case Token::kMinus:
    case Token::kEqual: case Token::kNotEqual: case Token::kLess: case Token::kLessOrEqual: case Token::kGreater:
    case Token::kGreaterOrEqual: case Token::kMultiply: case Token::kAnd: case Token::kOr: case Token::kDiv:
    case Token::kMod:
        return true;
    default:
        return false;
    }
}

bool Tokenize(std::wstring_view text, std::vector<Lexeme>* lexemes) {
    size_t i = 0;
    auto previous = [&] { return lexemes->empty() ? Token::kOpen : lexemes->back().token; };
    auto add = [&](Token token, size_t length) {
        lexemes->push_back({token, std::wstring()});
        i += length;
    };
    for (;;) {
        while (i < text.size() && IsSpace(text[i])) ++i;
        if (i >= text.size()) break;
        const wchar_t c = text[i];
        const wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
        switch (c) {
        case L'(': add(Token::kOpen, 1); continue;
        case L')': add(Token::kClose, 1); continue;
        case L'[': add(Token::kOpenBracket, 1); continue;
        case L']': add(Token::kCloseBracket, 1); continue;
        case L'@': add(Token::kAt, 1); continue;
        case L',': add(Token::kComma, 1); continue;
        case L'|': add(Token::kPipe, 1); continue;
        case L'+': add(Token::kPlus, 1); continue;
        case L'-': add(Token::kMinus, 1); continue;
        case L'=': add(Token::kEqual, 1); continue;
        case L'/': add(next == L'/' ? Token::kDoubleSlash : Token::kSlash, next == L'/' ? 2 : 1); continue;
        case L'<': add(next == L'=' ? Token::kLessOrEqual : Token::kLess, next == L'=' ? 2 : 1); continue;
        case L'>': add(next == L'=' ? Token::kGreaterOrEqual : Token::kGreater, next == L'=' ? 2 : 1); continue;
        case L'!':
            if (next != L'=') return false;
            add(Token::kNotEqual, 2);
            continue;
        case L':':
            // "::" after an axis name; a single colon would make a name with a prefix.
            if (next != L':') return false;
            add(Token::kColonColon, 2);
            continue;
        case L'*':
            add(BeforeOperand(previous()) ? Token::kAnyName : Token::kMultiply, 1);
            continue;
        case L'\'':
        case L'"': {
            const size_t end = text.find(c, i + 1);
            if (end == std::wstring_view::npos) return false;
            const std::wstring_view literal = text.substr(i + 1, end - i - 1);
            for (size_t k = 0; k < literal.size(); ++k) {
                if (IsHighSurrogate(literal[k]) && k + 1 < literal.size() && IsLowSurrogate(literal[k + 1]))
                    ++k;
                else if (IsHighSurrogate(literal[k]) || IsLowSurrogate(literal[k]))
                    return false;
            }
            lexemes->push_back({Token::kLiteral, std::wstring(literal)});
            i = end + 1;
            continue;
        }
        default:
            break;
        }
        if (c == L'.' && next == L'.') {
            add(Token::kDotDot, 2);
            continue;
        }
        if (IsDigit(c) || c == L'.') {
            if (c == L'.' && !IsDigit(next)) {
                add(Token::kDot, 1);
                continue;
            }
            Lexeme number{Token::kNumber, std::wstring()};
            if (ReadDigits(text, &i, &number.number) != Digits::kRead) return false;
            lexemes->push_back(std::move(number));
            continue;
        }
        if (!IsNameStart(c)) return false;   // also any character outside ASCII
        const size_t start = i;
        while (i < text.size() && IsNameChar(text[i])) ++i;
        Lexeme name{Token::kName, std::wstring(text.substr(start, i - start))};
        if (!BeforeOperand(previous())) {
            if (name.text == L"and") name.token = Token::kAnd;
            else if (name.text == L"or") name.token = Token::kOr;
            else if (name.text == L"div") name.token = Token::kDiv;
            else if (name.text == L"mod") name.token = Token::kMod;
            else return false;
        }
        size_t after = i;
        while (after < text.size() && IsSpace(text[after])) ++after;
        name.call = after < text.size() && text[after] == L'(';
        name.axis = after + 1 < text.size() && text[after] == L':' && text[after + 1] == L':';
        lexemes->push_back(std::move(name));
    }
    lexemes->push_back({Token::kEnd, std::wstring()});
    return true;
}

struct NamedFunction {
    const wchar_t* name;
    Function function;
    unsigned char fewest, most;   // arguments; 255: any number
};
constexpr NamedFunction kFunctions[] = {
    {L"last", Function::kLast, 0, 0},
    {L"position", Function::kPosition, 0, 0},
    {L"count", Function::kCount, 1, 1},
    {L"local-name", Function::kLocalName, 0, 1},
    {L"namespace-uri", Function::kNamespaceUri, 0, 1},
    {L"name", Function::kName, 0, 1},
    {L"string", Function::kString, 0, 1},
    {L"concat", Function::kConcat, 2, 255},
    {L"starts-with", Function::kStartsWith, 2, 2},
    {L"contains", Function::kContains, 2, 2},
    {L"substring-before", Function::kSubstringBefore, 2, 2},
    {L"substring-after", Function::kSubstringAfter, 2, 2},
    {L"substring", Function::kSubstring, 2, 3},
    {L"string-length", Function::kStringLength, 0, 1},
    {L"normalize-space", Function::kNormalizeSpace, 0, 1},
    {L"translate", Function::kTranslate, 3, 3},
    {L"boolean", Function::kBoolean, 1, 1},
    {L"not", Function::kNot, 1, 1},
    {L"true", Function::kTrue, 0, 0},
    {L"false", Function::kFalse, 0, 0},
    {L"number", Function::kNumber, 0, 1},
    {L"sum", Function::kSum, 1, 1},
    {L"floor", Function::kFloor, 1, 1},
    {L"ceiling", Function::kCeiling, 1, 1},
    {L"round", Function::kRound, 1, 1},
};

struct NamedAxis {
    const wchar_t* name;
    Axis axis;
};
constexpr NamedAxis kAxes[] = {
    {L"ancestor", Axis::kAncestor}, {L"ancestor-or-self", Axis::kAncestorOrSelf}, {L"attribute", Axis::kAttribute},
    {L"child", Axis::kChild}, {L"descendant", Axis::kDescendant}, {L"descendant-or-self", Axis::kDescendantOrSelf},
    {L"following", Axis::kFollowing}, {L"following-sibling", Axis::kFollowingSibling}, {L"parent", Axis::kParent},
    {L"preceding", Axis::kPreceding}, {L"preceding-sibling", Axis::kPrecedingSibling}, {L"self", Axis::kSelf},
};

bool IsNodeType(const std::wstring& name) {
    return name == L"node" || name == L"text" || name == L"comment" || name == L"processing-instruction";
}

bool IsNumberTyped(const Node& node) {
    switch (node.kind) {
    case Node::kNumber: case Node::kAdd: case Node::kSubtract: case Node::kMultiply: case Node::kDivide:
    case Node::kModulo: case Node::kNegate:
        return true;
    case Node::kCall:
        switch (node.function) {
        case Function::kLast: case Function::kPosition: case Function::kCount: case Function::kStringLength:
        case Function::kNumber: case Function::kSum: case Function::kFloor: case Function::kCeiling:
        case Function::kRound:
            return true;
        default:
            return false;
        }
    default:
        return false;
    }
}

}  // namespace

class Parser {
public:
    Parser(Expression& expression, std::vector<Lexeme>& lexemes) : m_expression(expression), m_lexemes(lexemes) {}

    bool ParseAll() {
        Id root;
        if (!Or(&root) || Peek().token != Token::kEnd || m_tooHigh) return false;
        m_expression.m_root = root;
        for (Node& node : m_expression.m_nodes) {
            if (OnlySelfAndDescendants(node)) return false;
            for (Predicate& predicate : node.filterPredicates) predicate.positional = Positional(predicate.expression);
            for (xpath::Step& step : node.steps) {
                for (Predicate& predicate : step.predicates) {
                    predicate.positional = Positional(predicate.expression);
                    step.positional = step.positional || predicate.positional;
                }
            }
            MergeDescendantSteps(node.steps);
        }
        return true;
    }

private:
    const Lexeme& Peek(size_t ahead = 0) const { return m_lexemes[std::min(m_at + ahead, m_lexemes.size() - 1)]; }
    bool Accept(Token token) {
        if (Peek().token != token) return false;
        ++m_at;
        return true;
    }

    Id Add(Node node) {
        // Chains of operators ("a or b or ..." of a long list) make trees as high as they are
        // long, and evaluation recurses through the tree's height.
        unsigned height = 0;
        auto under = [&](Id id) { height = std::max<unsigned>(height, m_expression.m_nodes[id].height); };
        for (Id operand : node.operands) under(operand);
        if (node.filter != kNoExpression) under(node.filter);
        for (const Predicate& predicate : node.filterPredicates) under(predicate.expression);
        for (const xpath::Step& step : node.steps)
            for (const Predicate& predicate : step.predicates) under(predicate.expression);
        node.height = static_cast<uint16_t>(std::min<unsigned>(height + 1, 0xFFFF));
        if (node.height > Expression::kHighestTree) m_tooHigh = true;
        m_expression.m_nodes.push_back(std::move(node));
        return static_cast<Id>(m_expression.m_nodes.size() - 1);
    }
    Id Binary(Node::Kind kind, Id left, Id right) {
        Node node(kind);
        node.operands = {left, right};
        return Add(std::move(node));
    }

    // Nesting is counted where the grammar recurses: parentheses, predicates, arguments, minus.
    struct Deeper {
        explicit Deeper(int& depth) : depth(depth) { ++depth; }
        ~Deeper() { --depth; }
        int& depth;
    };

    // One level of left-associative binary operators: operands of the next level joined by any
    // of the level's operator tokens.
    struct Operator {
        Token token;
        Node::Kind kind;
    };
    template <size_t N>
    bool Level(Id* out, const Operator (&operators)[N], bool (Parser::*operand)(Id*)) {
        if (!(this->*operand)(out)) return false;
        for (;;) {
            const Operator* found = nullptr;
            for (const Operator& op : operators)
                if (Peek().token == op.token) found = &op;
            if (!found) return true;
            ++m_at;
            Id right;
            if (!(this->*operand)(&right)) return false;
            *out = Binary(found->kind, *out, right);
        }
    }

    bool Or(Id* out) {
        Deeper deeper(m_depth);
        static constexpr Operator kOr[] = {{Token::kOr, Node::kOr}};
        return m_depth <= Expression::kDeepestNesting && Level(out, kOr, &Parser::And);
    }
    bool And(Id* out) {
        static constexpr Operator kAnd[] = {{Token::kAnd, Node::kAnd}};
        return Level(out, kAnd, &Parser::Equality);
    }
    bool Equality(Id* out) {
        static constexpr Operator kEquality[] = {{Token::kEqual, Node::kEqual}, {Token::kNotEqual, Node::kNotEqual}};
        return Level(out, kEquality, &Parser::Relational);
    }
    bool Relational(Id* out) {
        static constexpr Operator kRelational[] = {{Token::kLess, Node::kLess},
                                                   {Token::kLessOrEqual, Node::kLessOrEqual},
                                                   {Token::kGreater, Node::kGreater},
                                                   {Token::kGreaterOrEqual, Node::kGreaterOrEqual}};
        return Level(out, kRelational, &Parser::Additive);
    }
    bool Additive(Id* out) {
        static constexpr Operator kAdditive[] = {{Token::kPlus, Node::kAdd}, {Token::kMinus, Node::kSubtract}};
        return Level(out, kAdditive, &Parser::Multiplicative);
    }
    bool Multiplicative(Id* out) {
        static constexpr Operator kMultiplicative[] = {
            {Token::kMultiply, Node::kMultiply}, {Token::kDiv, Node::kDivide}, {Token::kMod, Node::kModulo}};
        return Level(out, kMultiplicative, &Parser::Unary);
    }
    bool Unary(Id* out) {
        int negations = 0;
        while (Accept(Token::kMinus)) ++negations;
        if (negations > Expression::kDeepestNesting || !Union(out)) return false;
        for (; negations > 0; --negations) {
            Node node(Node::kNegate);
            node.operands = {*out};
            *out = Add(std::move(node));
        }
        return true;
    }
    bool Union(Id* out) {
        static constexpr Operator kUnion[] = {{Token::kPipe, Node::kUnion}};
        return Level(out, kUnion, &Parser::Path);
    }

    bool StartsFilter() const {
        const Lexeme& lexeme = Peek();
        return lexeme.token == Token::kLiteral || lexeme.token == Token::kNumber || lexeme.token == Token::kOpen ||
               (lexeme.token == Token::kName && lexeme.call && !IsNodeType(lexeme.text));
    }
    bool StartsStep() const {
        switch (Peek().token) {
        case Token::kDot: case Token::kDotDot: case Token::kAt: case Token::kAnyName:
            return true;
        case Token::kName:
            return !Peek().call || IsNodeType(Peek().text);
        default:
            return false;
        }
    }

    bool Path(Id* out) {
        Node path(Node::kPath);
        if (StartsFilter()) {
            if (!Primary(&path.filter) || !Predicates(&path.filterPredicates)) return false;
            if (Peek().token != Token::kSlash && Peek().token != Token::kDoubleSlash) {
                if (path.filterPredicates.empty()) {
                    *out = path.filter;
                    return true;
                }
                *out = Add(std::move(path));
                return true;
            }
        } else if (Peek().token == Token::kSlash || Peek().token == Token::kDoubleSlash) {
            path.absolute = true;
            if (Peek().token == Token::kSlash && !StartsStep(1)) {
                ++m_at;
                *out = Add(std::move(path));   // "/": the document
                return true;
            }
        } else if (!Step(&path.steps)) {
            return false;
        }
        for (;;) {
            if (Accept(Token::kDoubleSlash)) {
                path.steps.emplace_back(Axis::kDescendantOrSelf, NodeTest::kNode);
            } else if (!Accept(Token::kSlash)) {
                break;
            }
            if (!Step(&path.steps)) return false;
        }
        *out = Add(std::move(path));
        return true;
    }
    bool StartsStep(size_t ahead) {
        const size_t at = m_at;
        m_at += ahead;
        const bool starts = StartsStep();
        m_at = at;
        return starts;
    }

    bool Step(std::vector<xpath::Step>* steps) {
        if (Accept(Token::kDot)) {
            steps->emplace_back(Axis::kSelf, NodeTest::kNode);
            return true;
        }
        if (Accept(Token::kDotDot)) {
            steps->emplace_back(Axis::kParent, NodeTest::kNode);
            return true;
        }
        xpath::Step step(Axis::kChild, NodeTest::kNode);
        if (Accept(Token::kAt)) {
            step.axis = Axis::kAttribute;
        } else if (Peek().token == Token::kName && Peek().axis) {
            const NamedAxis* found = nullptr;
            for (const NamedAxis& axis : kAxes)
                if (Peek().text == axis.name) found = &axis;
            if (!found) return false;   // also the namespace axis
            step.axis = found->axis;
            ++m_at;
            if (!Accept(Token::kColonColon)) return false;
        }
        if (Accept(Token::kAnyName)) {
            step.test = NodeTest::kAnyName;
        } else if (Peek().token != Token::kName) {
            return false;
        } else if (Peek().call) {
            const std::wstring type = Peek().text;
            if (!IsNodeType(type)) return false;
            ++m_at;
            Accept(Token::kOpen);
            if (type == L"processing-instruction" && Peek().token == Token::kLiteral) {
                step.hasTarget = true;
                step.name = Peek().text;
                ++m_at;
            }
            if (!Accept(Token::kClose)) return false;
            step.test = type == L"node"      ? NodeTest::kNode
                        : type == L"text"    ? NodeTest::kText
                        : type == L"comment" ? NodeTest::kComment
                                             : NodeTest::kProcessingInstruction;
        } else {
            step.test = NodeTest::kName;
            step.name = Peek().text;
            ++m_at;
        }
        if (!Predicates(&step.predicates)) return false;
        steps->push_back(std::move(step));
        return true;
    }

    bool Predicates(std::vector<Predicate>* predicates) {
        while (Accept(Token::kOpenBracket)) {
            Id expression;
            if (!Or(&expression) || !Accept(Token::kCloseBracket)) return false;
            predicates->push_back({expression, true});
        }
        return true;
    }

    bool Primary(Id* out) {
        const Lexeme& lexeme = Peek();
        switch (lexeme.token) {
        case Token::kLiteral: {
            Node node(Node::kLiteral);
            node.literal = lexeme.text;
            ++m_at;
            *out = Add(std::move(node));
            return true;
        }
        case Token::kNumber: {
            Node node(Node::kNumber);
            node.number = lexeme.number;
            ++m_at;
            *out = Add(std::move(node));
            return true;
        }
        case Token::kOpen:
            ++m_at;
            return Or(out) && Accept(Token::kClose);
        default:
            break;
        }
        const NamedFunction* found = nullptr;
        for (const NamedFunction& function : kFunctions)
            if (lexeme.text == function.name) found = &function;
        if (!found) return false;   // id(), lang() and functions of no XPath 1.0 library too
        m_at += 2;                  // the name and "("
        Node call(Node::kCall);
        call.function = found->function;
        if (!Accept(Token::kClose)) {
            Deeper deeper(m_depth);
            do {
                Id argument;
                if (!Or(&argument)) return false;
                call.operands.push_back(argument);
            } while (Accept(Token::kComma));
            if (!Accept(Token::kClose)) return false;
        }
        if (call.operands.size() < found->fewest || call.operands.size() > found->most) return false;
        *out = Add(std::move(call));
        return true;
    }

    // Whether position() or last() of the predicate's own context can matter.
    bool UsesContextPosition(Id id) const {
        const Node& node = m_expression.m_nodes[id];
        if (node.kind == Node::kCall && (node.function == Function::kPosition || node.function == Function::kLast))
            return true;
        if (node.kind == Node::kPath) return node.filter != kNoExpression && UsesContextPosition(node.filter);
        for (Id operand : node.operands)
            if (UsesContextPosition(operand)) return true;
        return false;
    }
    bool Positional(Id id) const { return IsNumberTyped(m_expression.m_nodes[id]) || UsesContextPosition(id); }

    // libxml2 (Wine's MSXML) evaluates a path without predicates, calls or attributes by its
    // pattern matcher, which gets ".//." and "/././/." wrong (the document or all but it). Such
    // paths select nothing a template needs; MSXML decides them.
    static bool OnlySelfAndDescendants(const Node& node) {
        if (node.kind != Node::kPath || node.filter != kNoExpression || node.steps.empty()) return false;
        bool descendants = false;
        for (const xpath::Step& step : node.steps) {
            if (step.test != NodeTest::kNode || !step.predicates.empty() ||
                (step.axis != Axis::kSelf && step.axis != Axis::kDescendantOrSelf))
                return false;
            descendants = descendants || step.axis == Axis::kDescendantOrSelf;
        }
        return descendants;
    }

    // "//name[p]" is descendant-or-self::node()/child::name[p]; without positions in p that is
    // descendant::name[p], which needs no node-set of every node of the page.
    static void MergeDescendantSteps(std::vector<xpath::Step>& steps) {
        for (size_t i = 0; i + 1 < steps.size(); ++i) {
            const xpath::Step& step = steps[i];
            xpath::Step& next = steps[i + 1];
            if (step.axis == Axis::kDescendantOrSelf && step.test == NodeTest::kNode && step.predicates.empty() &&
                next.axis == Axis::kChild && !next.positional) {
                next.axis = Axis::kDescendant;
                steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }

    Expression& m_expression;
    std::vector<Lexeme>& m_lexemes;
    size_t m_at = 0;
    int m_depth = 0;
    bool m_tooHigh = false;
};

bool Expression::Parse(const wchar_t* text, size_t length) {
    m_nodes.clear();
    m_root = kNoExpression;
    if (!text) return false;
    std::vector<Lexeme> lexemes;
    if (!Tokenize(std::wstring_view(text, length), &lexemes)) return false;
    Parser parser(*this, lexemes);
    if (parser.ParseAll()) return true;
    m_nodes.clear();
    m_root = kNoExpression;
    return false;
}

bool StringToNumber(std::wstring_view text, double* value) {
    size_t at = 0;
    while (at < text.size() && IsSpace(text[at])) ++at;
    const bool negative = at < text.size() && text[at] == L'-';
    if (negative) ++at;
    double read = 0;
    const Digits digits = ReadDigits(text, &at, &read);
    if (digits == Digits::kRefused) return false;
    while (at < text.size() && IsSpace(text[at])) ++at;
    if (digits == Digits::kNone) {
        // libxml2 reads a minus without digits ("-", "- ") as negative zero, XPath as NaN.
        if (negative && at == text.size()) return false;
        *value = std::nan("");
        return true;
    }
    *value = at < text.size() ? std::nan("") : negative ? -read : read;
    return true;
}

}  // namespace xpath
