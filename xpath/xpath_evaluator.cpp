#include "xpath/xpath_evaluator.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <unordered_set>

namespace {

using Index = PageMirror::Index;
using xpath::Axis;
using xpath::Function;
using xpath::Id;
using xpath::NodeTest;
using xpath::Predicate;
using xpath::Step;
using Expr = xpath::Node;

// The evaluation met what MSXML decides (see xpath_evaluator.h).
struct Refused {};

// A node of the XML form.
struct XNode {
    uint32_t node;        // 0: the document; else the mirror index + 1 (of a text run: its first node)
    uint32_t attribute;   // 0: the node itself; else the attribute's index in the mirror + 1
    bool operator<(const XNode& other) const {
        return node != other.node ? node < other.node : attribute < other.attribute;
    }
    bool operator==(const XNode& other) const { return node == other.node && attribute == other.attribute; }
};
constexpr XNode kDocument = {0, 0};
XNode MirrorNode(Index index) { return {index + 1, 0}; }

enum class Kind { kDocument, kElement, kText, kComment, kInstruction, kAttribute };

struct Value {
    enum Type : uint8_t { kNodeSet, kBoolean, kNumber, kString } type = kBoolean;
    bool boolean = false;
    double number = 0;
    std::wstring string;
    std::vector<XNode> nodes;   // in document order, each once
};

struct Context {
    XNode node;
    size_t position, size;
};

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
bool IsSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool HasSurrogate(std::wstring_view text) { return std::any_of(text.begin(), text.end(), IsSurrogate); }

double Round(double value) {
    // As libxml2 rounds: half up, and a value from -0.5 up to 0 gives negative zero.
    if (value >= -0.5 && value < 0.5) return value * 0.0;
    double rounded = std::floor(value);
    if (value - rounded >= 0.5) rounded += 1.0;
    return rounded;
}

// Integers of the int range only: the XPath processors agree on them, not on fractions.
void AppendNumber(double value, std::wstring& out) {
    if (std::isnan(value)) {
        out += L"NaN";
    } else if (std::isinf(value)) {
        out += value > 0 ? L"Infinity" : L"-Infinity";
    } else if (value > INT_MIN && value < INT_MAX && value == static_cast<int>(value)) {
        long long integer = static_cast<int>(value);
        if (integer < 0) {
            out += L'-';
            integer = -integer;
        }
        wchar_t digits[12];
        int count = 0;
        do {
            digits[count++] = static_cast<wchar_t>(L'0' + integer % 10);
            integer /= 10;
        } while (integer);
        while (count) out += digits[--count];
    } else {
        throw Refused();
    }
}

double Number(std::wstring_view text) {
    double value;
    if (!xpath::StringToNumber(text, &value)) throw Refused();
    return value;
}

bool CompareNumbers(Expr::Kind op, double a, double b) {
    switch (op) {
    case Expr::kEqual: return a == b;
    case Expr::kNotEqual: return a != b;
    case Expr::kLess: return a < b;
    case Expr::kLessOrEqual: return a <= b;
    case Expr::kGreater: return a > b;
    default: return a >= b;
    }
}

// a op b as b op' a.
Expr::Kind Mirrored(Expr::Kind op) {
    switch (op) {
    case Expr::kLess: return Expr::kGreater;
    case Expr::kLessOrEqual: return Expr::kGreaterOrEqual;
    case Expr::kGreater: return Expr::kLess;
    case Expr::kGreaterOrEqual: return Expr::kLessOrEqual;
    default: return op;
    }
}

class Evaluator {
public:
    Evaluator(const xpath::Expression& expression, const PageMirror& mirror)
        : m_expression(expression), m_mirror(mirror), m_values(expression.size()), m_paths(expression.size()) {}

    // Each expression node evaluates into its own slot: no node is evaluated again while its own
    // evaluation is under way (the tree has no cycles), and the slots keep their memory from one
    // candidate to the next.
    const Value& Evaluate(Id id, const Context& context) {
        const Expr& e = m_expression.node(id);
        Value& out = m_values[id];
        switch (e.kind) {
        case Expr::kOr:
        case Expr::kAnd: {
            const bool first = Boolean(Evaluate(e.operands[0], context));
            SetBoolean(out, e.kind == Expr::kOr ? (first || Boolean(Evaluate(e.operands[1], context)))
                                                : (first && Boolean(Evaluate(e.operands[1], context))));
            return out;
        }
        case Expr::kEqual: case Expr::kNotEqual: case Expr::kLess: case Expr::kLessOrEqual: case Expr::kGreater:
        case Expr::kGreaterOrEqual: {
            const Value& left = Evaluate(e.operands[0], context);
            const Value& right = Evaluate(e.operands[1], context);
            SetBoolean(out, Compare(e.kind, left, right));
            return out;
        }
        case Expr::kAdd: case Expr::kSubtract: case Expr::kMultiply: case Expr::kDivide: case Expr::kModulo: {
            const double a = Number(Evaluate(e.operands[0], context));
            const double b = Number(Evaluate(e.operands[1], context));
            double result;
            switch (e.kind) {
            case Expr::kAdd: result = a + b; break;
            case Expr::kSubtract: result = a - b; break;
            case Expr::kMultiply: result = a * b; break;
            case Expr::kDivide: result = a / b; break;
            default: result = std::fmod(a, b); break;
            }
            SetNumber(out, result);
            return out;
        }
        case Expr::kNegate:
            SetNumber(out, -Number(Evaluate(e.operands[0], context)));
            return out;
        case Expr::kUnion: {
            const Value& left = Evaluate(e.operands[0], context);
            const Value& right = Evaluate(e.operands[1], context);
            if (left.type != Value::kNodeSet || right.type != Value::kNodeSet) throw Refused();
            out.type = Value::kNodeSet;
            out.nodes.clear();
            std::set_union(left.nodes.begin(), left.nodes.end(), right.nodes.begin(), right.nodes.end(),
                           std::back_inserter(out.nodes));
            return out;
        }
        case Expr::kNumber:
            SetNumber(out, e.number);
            return out;
        case Expr::kLiteral:
            out.type = Value::kString;
            out.string = e.literal;
            return out;
        case Expr::kCall:
            Call(e, context, out);
            return out;
        case Expr::kPath:
            EvaluatePath(id, e, context, out);
            return out;
        }
        throw Refused();
    }

    Kind KindOf(XNode n) const {
        if (n.attribute) return Kind::kAttribute;
        if (n.node == 0) return Kind::kDocument;
        switch (m_mirror.node(n.node - 1).kind) {
        case PageMirror::kElement: return Kind::kElement;
        case PageMirror::kText: return Kind::kText;
        case PageMirror::kComment: return Kind::kComment;
        case PageMirror::kLeftOut: return Kind::kInstruction;
        }
        return Kind::kInstruction;
    }

private:
    struct PathScratch {
        std::vector<XNode> current, next, candidates;
    };

    const PageMirror::Node& M(Index index) const { return m_mirror.node(index); }

    static void SetBoolean(Value& out, bool value) {
        out.type = Value::kBoolean;
        out.boolean = value;
    }
    static void SetNumber(Value& out, double value) {
        out.type = Value::kNumber;
        out.number = value;
    }

    // ---- the XML form's nodes ----

    // A mirror text node stands for the XML text node of its run when it is the run's first
    // node and the run holds a character.
    bool RunStart(Index i) const {
        return !(i > 0 && M(i - 1).kind == PageMirror::kText && M(i - 1).parent == M(i).parent);
    }
    Index RunEnd(Index i) const {
        while (M(i).nextSibling != PageMirror::kNone && M(M(i).nextSibling).kind == PageMirror::kText)
            i = M(i).nextSibling;
        return i;
    }
    bool RunHasText(Index i) const {
        for (Index t = i; t != PageMirror::kNone && M(t).kind == PageMirror::kText; t = M(t).nextSibling)
            if (M(t).textLength) return true;
        return false;
    }
    bool IsXmlNode(Index i) const { return M(i).kind != PageMirror::kText || (RunStart(i) && RunHasText(i)); }
    // One past the node's last descendant, or past the last node of its text run.
    Index End(Index i) const { return M(i).kind == PageMirror::kText ? RunEnd(i) + 1 : M(i).subtreeEnd; }

    std::wstring_view AttributeName(XNode n) const {
        const PageMirror::Attribute& a = m_mirror.attribute(n.attribute - 1);
        return m_mirror.Text(a.name, a.nameLength);
    }

    std::wstring_view Name(XNode n) const {
        switch (KindOf(n)) {
        case Kind::kElement: return m_mirror.Name(n.node - 1);
        case Kind::kAttribute: return AttributeName(n);
        case Kind::kInstruction: return kLeftOutNodeTarget;
        default: return std::wstring_view();
        }
    }

    std::wstring_view StringValue(XNode n, std::wstring& scratch) const {
        switch (KindOf(n)) {
        case Kind::kAttribute: {
            const PageMirror::Attribute& a = m_mirror.attribute(n.attribute - 1);
            return m_mirror.Text(a.value, a.valueLength);
        }
        case Kind::kDocument:
            return Descendants(0, M(0).subtreeEnd, scratch);
        case Kind::kElement:
            return Descendants(n.node, M(n.node - 1).subtreeEnd, scratch);
        case Kind::kText:
            return Descendants(n.node - 1, RunEnd(n.node - 1) + 1, scratch);
        case Kind::kComment:
            scratch = XmlCommentText(m_mirror.Value(n.node - 1));
            return scratch;
        case Kind::kInstruction:
            return std::wstring_view();
        }
        return std::wstring_view();
    }
    // The text of the text nodes among mirror nodes [from, to), in order.
    std::wstring_view Descendants(Index from, Index to, std::wstring& scratch) const {
        Index only = PageMirror::kNone;
        size_t pieces = 0;
        for (Index i = from; i < to; ++i) {
            if (M(i).kind != PageMirror::kText || M(i).textLength == 0) continue;
            if (++pieces == 1) {
                only = i;
                continue;
            }
            if (pieces == 2) scratch.assign(m_mirror.Value(only));
            scratch += m_mirror.Value(i);
        }
        if (pieces == 0) return std::wstring_view();
        if (pieces == 1) return m_mirror.Value(only);
        return scratch;
    }

    // ---- conversions ----

    bool Boolean(const Value& v) const {
        switch (v.type) {
        case Value::kNodeSet: return !v.nodes.empty();
        case Value::kBoolean: return v.boolean;
        case Value::kNumber: return v.number != 0 && !std::isnan(v.number);
        case Value::kString: return !v.string.empty();
        }
        return false;
    }
    double Number(const Value& v) {
        switch (v.type) {
        case Value::kNodeSet:
            return v.nodes.empty() ? std::nan("") : ::Number(StringValue(v.nodes.front(), m_scratch));
        case Value::kBoolean: return v.boolean ? 1 : 0;
        case Value::kNumber: return v.number;
        case Value::kString: return ::Number(v.string);
        }
        return 0;
    }
    // The view lives until `scratch` or the value changes.
    std::wstring_view String(const Value& v, std::wstring& scratch) const {
        switch (v.type) {
        case Value::kNodeSet:
            return v.nodes.empty() ? std::wstring_view() : StringValue(v.nodes.front(), scratch);
        case Value::kBoolean: return v.boolean ? L"true" : L"false";
        case Value::kNumber:
            scratch.clear();
            AppendNumber(v.number, scratch);
            return scratch;
        case Value::kString: return v.string;
        }
        return std::wstring_view();
    }

    // ---- comparisons ----

    bool Compare(Expr::Kind op, const Value& left, const Value& right) {
        const bool equality = op == Expr::kEqual || op == Expr::kNotEqual;
        if (left.type == Value::kNodeSet && right.type == Value::kNodeSet) return CompareNodeSets(op, left, right);
        if (left.type == Value::kNodeSet) return CompareNodeSet(op, left, right);
        if (right.type == Value::kNodeSet) return CompareNodeSet(Mirrored(op), right, left);
        if (equality) {
            if (left.type == Value::kBoolean || right.type == Value::kBoolean)
                return (Boolean(left) == Boolean(right)) == (op == Expr::kEqual);
            if (left.type == Value::kNumber || right.type == Value::kNumber)
                return CompareNumbers(op, Number(left), Number(right));
            return (left.string == right.string) == (op == Expr::kEqual);
        }
        return CompareNumbers(op, Number(left), Number(right));
    }

    // Some node of the set compares true with the other value.
    bool CompareNodeSet(Expr::Kind op, const Value& set, const Value& other) {
        const bool equality = op == Expr::kEqual || op == Expr::kNotEqual;
        if (other.type == Value::kBoolean) {
            if (equality) return (!set.nodes.empty() == other.boolean) == (op == Expr::kEqual);
            return CompareNumbers(op, set.nodes.empty() ? 0 : 1, other.boolean ? 1 : 0);
        }
        if (other.type == Value::kString && equality) {
            for (const XNode& n : set.nodes)
                if ((StringValue(n, m_scratch) == other.string) == (op == Expr::kEqual)) return true;
            return false;
        }
        const double number = other.type == Value::kString ? ::Number(other.string) : other.number;
        for (const XNode& n : set.nodes)
            if (CompareNumbers(op, ::Number(StringValue(n, m_scratch)), number)) return true;
        return false;
    }

    bool CompareNodeSets(Expr::Kind op, const Value& left, const Value& right) {
        if (left.nodes.empty() || right.nodes.empty()) return false;
        if (op == Expr::kEqual || op == Expr::kNotEqual) {
            // libxml2 compares a processing instruction without data here as no string at all,
            // equal to none, not even to "" (while string() of it is "").
            for (const Value* set : {&left, &right})
                for (const XNode& n : set->nodes)
                    if (KindOf(n) == Kind::kInstruction) throw Refused();
        }
        if (op == Expr::kNotEqual) {
            // Some pair differs unless every node of both sets has one and the same value.
            const std::wstring first(StringValue(left.nodes.front(), m_scratch));
            for (const Value* set : {&left, &right})
                for (const XNode& n : set->nodes)
                    if (StringValue(n, m_scratch) != first) return true;
            return false;
        }
        if (op == Expr::kEqual) {
            const Value& small = left.nodes.size() <= right.nodes.size() ? left : right;
            const Value& large = &small == &left ? right : left;
            std::unordered_set<std::wstring> values;
            for (const XNode& n : small.nodes) values.emplace(StringValue(n, m_scratch));
            for (const XNode& n : large.nodes)
                if (values.count(std::wstring(StringValue(n, m_scratch)))) return true;
            return false;
        }
        // Relational: the extremes of each side decide (NaN compares false with everything).
        auto extremes = [&](const Value& set, double* low, double* high) {
            bool any = false;
            for (const XNode& n : set.nodes) {
                const double v = ::Number(StringValue(n, m_scratch));
                if (std::isnan(v)) continue;
                *low = any ? std::min(*low, v) : v;
                *high = any ? std::max(*high, v) : v;
                any = true;
            }
            return any;
        };
        double leftLow = 0, leftHigh = 0, rightLow = 0, rightHigh = 0;
        if (!extremes(left, &leftLow, &leftHigh) || !extremes(right, &rightLow, &rightHigh)) return false;
        if (op == Expr::kLess || op == Expr::kLessOrEqual) return CompareNumbers(op, leftLow, rightHigh);
        return CompareNumbers(op, leftHigh, rightLow);
    }

    // ---- functions ----

    const Value& Argument(const Expr& e, size_t index, const Context& context) {
        return Evaluate(e.operands[index], context);
    }
    const Value& NodeSetArgument(const Expr& e, size_t index, const Context& context) {
        const Value& v = Argument(e, index, context);
        if (v.type != Value::kNodeSet) throw Refused();
        return v;
    }
    // The string of the argument, or of the context node without one; copied into `out`, since
    // evaluating a further argument may change the value it came from.
    void StringArgument(const Expr& e, size_t index, const Context& context, std::wstring& out) {
        std::wstring scratch;
        if (index < e.operands.size())
            out.assign(String(Argument(e, index, context), scratch));
        else
            out.assign(StringValue(context.node, scratch));
    }
    // The node the name functions look at: the argument's first, or the context node.
    bool NameSubject(const Expr& e, const Context& context, XNode* n) {
        if (e.operands.empty()) {
            *n = context.node;
            return true;
        }
        const Value& v = NodeSetArgument(e, 0, context);
        if (v.nodes.empty()) return false;
        *n = v.nodes.front();
        return true;
    }

    void Call(const Expr& e, const Context& context, Value& out) {
        switch (e.function) {
        case Function::kLast:
            SetNumber(out, static_cast<double>(context.size));
            return;
        case Function::kPosition:
            SetNumber(out, static_cast<double>(context.position));
            return;
        case Function::kCount:
            SetNumber(out, static_cast<double>(NodeSetArgument(e, 0, context).nodes.size()));
            return;
        case Function::kLocalName:
        case Function::kName: {
            XNode n;
            const std::wstring_view name = NameSubject(e, context, &n) ? Name(n) : std::wstring_view();
            out.type = Value::kString;
            out.string.assign(name);
            return;
        }
        case Function::kNamespaceUri: {
            XNode n;
            NameSubject(e, context, &n);
            out.type = Value::kString;
            out.string.clear();
            return;
        }
        case Function::kString:
            out.type = Value::kString;
            StringArgument(e, 0, context, out.string);
            return;
        case Function::kConcat: {
            std::wstring text, piece;
            for (size_t i = 0; i < e.operands.size(); ++i) {
                StringArgument(e, i, context, piece);
                text += piece;
            }
            out.type = Value::kString;
            out.string.swap(text);
            return;
        }
        case Function::kStartsWith:
        case Function::kContains:
        case Function::kSubstringBefore:
        case Function::kSubstringAfter: {
            std::wstring text, part;
            StringArgument(e, 0, context, text);
            StringArgument(e, 1, context, part);
            const size_t at = text.find(part);
            if (e.function == Function::kStartsWith) return SetBoolean(out, text.compare(0, part.size(), part) == 0);
            if (e.function == Function::kContains) return SetBoolean(out, at != std::wstring::npos);
            out.type = Value::kString;
            if (at == std::wstring::npos)
                out.string.clear();
            else if (e.function == Function::kSubstringBefore)
                out.string.assign(text, 0, at);
            else
                out.string.assign(text, at + part.size(), std::wstring::npos);
            return;
        }
        case Function::kSubstring: {
            std::wstring text;
            StringArgument(e, 0, context, text);
            const double start = Number(Argument(e, 1, context));
            if (HasSurrogate(text)) throw Refused();
            // As libxml2 counts: round(start) <= p < round(start) + round(length), in the int range.
            long long from = 1, to = INT_MAX;
            if (!(start < INT_MAX))
                from = INT_MAX;
            else if (start >= 1.0)
                from = static_cast<long long>(Round(start));
            if (e.operands.size() == 3) {
                const double end = Round(start) + Round(Number(Argument(e, 2, context)));
                if (!(end >= 1.0))
                    to = 1;
                else if (end < INT_MAX)
                    to = static_cast<long long>(end);
            }
            out.type = Value::kString;
            out.string.clear();
            if (from < to && static_cast<size_t>(from - 1) < text.size())
                out.string.assign(text, static_cast<size_t>(from - 1), static_cast<size_t>(to - from));
            return;
        }
        case Function::kStringLength: {
            std::wstring text;
            StringArgument(e, 0, context, text);
            if (HasSurrogate(text)) throw Refused();
            SetNumber(out, static_cast<double>(text.size()));
            return;
        }
        case Function::kNormalizeSpace: {
            std::wstring text;
            StringArgument(e, 0, context, text);
            out.type = Value::kString;
            out.string.clear();
            for (size_t i = 0; i < text.size();) {
                if (IsSpace(text[i])) {
                    while (i < text.size() && IsSpace(text[i])) ++i;
                    if (!out.string.empty() && i < text.size()) out.string += L' ';
                    continue;
                }
                out.string += text[i++];
            }
            return;
        }
        case Function::kTranslate: {
            std::wstring text, from, to;
            StringArgument(e, 0, context, text);
            StringArgument(e, 1, context, from);
            StringArgument(e, 2, context, to);
            if (HasSurrogate(text) || HasSurrogate(from) || HasSurrogate(to)) throw Refused();
            out.type = Value::kString;
            out.string.clear();
            for (wchar_t c : text) {
                const size_t at = from.find(c);
                if (at == std::wstring::npos)
                    out.string += c;
                else if (at < to.size())
                    out.string += to[at];
            }
            return;
        }
        case Function::kBoolean:
            SetBoolean(out, Boolean(Argument(e, 0, context)));
            return;
        case Function::kNot:
            SetBoolean(out, !Boolean(Argument(e, 0, context)));
            return;
        case Function::kTrue:
        case Function::kFalse:
            SetBoolean(out, e.function == Function::kTrue);
            return;
        case Function::kNumber:
            if (e.operands.empty()) {
                SetNumber(out, ::Number(StringValue(context.node, m_scratch)));
            } else {
                SetNumber(out, Number(Argument(e, 0, context)));
            }
            return;
        case Function::kSum: {
            double sum = 0;
            for (const XNode& n : NodeSetArgument(e, 0, context).nodes) sum += ::Number(StringValue(n, m_scratch));
            SetNumber(out, sum);
            return;
        }
        case Function::kFloor:
            SetNumber(out, std::floor(Number(Argument(e, 0, context))));
            return;
        case Function::kCeiling:
            SetNumber(out, std::ceil(Number(Argument(e, 0, context))));
            return;
        case Function::kRound:
            SetNumber(out, Round(Number(Argument(e, 0, context))));
            return;
        }
        throw Refused();
    }

    // ---- location paths ----

    void EvaluatePath(Id id, const Expr& e, const Context& context, Value& out) {
        out.type = Value::kNodeSet;
        // "@name", in nearly every predicate a template has: the element's attributes, in order.
        if (e.filter == xpath::kNoExpression && !e.absolute && e.steps.size() == 1 &&
            e.steps[0].axis == Axis::kAttribute && e.steps[0].predicates.empty()) {
            out.nodes.clear();
            Collect(e.steps[0], context.node, 0, out.nodes);
            return;
        }
        PathScratch& s = m_paths[id];
        s.current.clear();
        if (e.filter != xpath::kNoExpression) {
            const Value& v = Evaluate(e.filter, context);
            if (v.type != Value::kNodeSet) throw Refused();
            s.current.assign(v.nodes.begin(), v.nodes.end());
            Filter(e.filterPredicates, s.current);
        } else {
            s.current.push_back(e.absolute ? kDocument : context.node);
        }
        for (const Step& step : e.steps) {
            EvaluateStep(step, s);
            s.current.swap(s.next);
            if (s.current.empty()) break;
        }
        out.nodes.swap(s.current);
    }

    // Applies the predicates in turn to nodes in the order that gives their positions.
    void Filter(const std::vector<Predicate>& predicates, std::vector<XNode>& nodes) {
        for (const Predicate& predicate : predicates) {
            if (nodes.empty()) return;
            const Expr& e = m_expression.node(predicate.expression);
            // [2] and [last()] need no evaluation per node.
            if (e.kind == Expr::kNumber || (e.kind == Expr::kCall && e.function == Function::kLast)) {
                const double position = e.kind == Expr::kNumber ? e.number : static_cast<double>(nodes.size());
                const bool in = position >= 1 && position <= static_cast<double>(nodes.size()) &&
                                position == std::floor(position);
                if (in) nodes.front() = nodes[static_cast<size_t>(position) - 1];
                nodes.resize(in ? 1 : 0);
                continue;
            }
            const size_t size = nodes.size();
            size_t kept = 0;
            for (size_t i = 0; i < size; ++i) {
                const Value& v = Evaluate(predicate.expression, Context{nodes[i], i + 1, size});
                const bool keep = v.type == Value::kNumber ? v.number == static_cast<double>(i + 1) : Boolean(v);
                if (keep) nodes[kept++] = nodes[i];
            }
            nodes.resize(kept);
        }
    }

    bool Matches(const Step& step, XNode n) const {
        const Kind kind = KindOf(n);
        const Kind principal = step.axis == Axis::kAttribute ? Kind::kAttribute : Kind::kElement;
        switch (step.test) {
        case NodeTest::kNode: return true;
        case NodeTest::kAnyName: return kind == principal;
        case NodeTest::kName: return kind == principal && Name(n) == step.name;
        case NodeTest::kText: return kind == Kind::kText;
        case NodeTest::kComment: return kind == Kind::kComment;
        case NodeTest::kProcessingInstruction: return kind == Kind::kInstruction && (!step.hasTarget || step.name == kLeftOutNodeTarget);
        }
        return false;
    }

    void Emit(const Step& step, XNode n, std::vector<XNode>& out) const {
        if (Matches(step, n)) out.push_back(n);
    }
    void EmitMirror(const Step& step, Index i, std::vector<XNode>& out) const {
        if (IsXmlNode(i)) Emit(step, MirrorNode(i), out);
    }
    void EmitRange(const Step& step, Index from, Index to, std::vector<XNode>& out) const {
        for (Index i = from; i < to; ++i) EmitMirror(step, i, out);
    }

    // The step's nodes from one context node, in the axis's order. `pass` marks the ancestors
    // reached (see Marked).
    void Collect(const Step& step, XNode c, uint32_t pass, std::vector<XNode>& out) {
        const Kind kind = KindOf(c);
        const Index i = c.node - 1;   // for mirror nodes
        const bool inMirror = kind != Kind::kDocument && kind != Kind::kAttribute;
        switch (step.axis) {
        case Axis::kSelf:
            Emit(step, c, out);
            return;
        case Axis::kChild:
            if (kind == Kind::kDocument) {
                EmitMirror(step, 0, out);
            } else if (kind == Kind::kElement) {
                for (Index child = M(i).firstChild; child != PageMirror::kNone; child = M(child).nextSibling)
                    EmitMirror(step, child, out);
            }
            return;
        case Axis::kDescendantOrSelf:
            Emit(step, c, out);
            [[fallthrough]];
        case Axis::kDescendant:
            if (kind == Kind::kDocument) EmitRange(step, 0, m_mirror.size(), out);
            if (kind == Kind::kElement) EmitRange(step, i + 1, M(i).subtreeEnd, out);
            return;
        case Axis::kParent:
            if (kind == Kind::kAttribute) Emit(step, XNode{c.node, 0}, out);
            if (inMirror) Emit(step, M(i).parent == PageMirror::kNone ? kDocument : MirrorNode(M(i).parent), out);
            return;
        case Axis::kAncestorOrSelf:
            Emit(step, c, out);
            [[fallthrough]];
        case Axis::kAncestor:
            for (XNode up = Parent(c); up.node != kNoParent; up = Parent(up)) {
                if (!step.positional && Marked(up, pass)) break;   // and so are the rest, further up
                Emit(step, up, out);
            }
            return;
        case Axis::kFollowingSibling:
            if (inMirror && M(i).parent != PageMirror::kNone) {
                const Index last = M(i).kind == PageMirror::kText ? RunEnd(i) : i;
                for (Index s = M(last).nextSibling; s != PageMirror::kNone; s = M(s).nextSibling)
                    EmitMirror(step, s, out);
            }
            return;
        case Axis::kPrecedingSibling:
            if (inMirror && M(i).parent != PageMirror::kNone) {
                const size_t first = out.size();
                for (Index s = M(M(i).parent).firstChild; s != i; s = M(s).nextSibling) EmitMirror(step, s, out);
                std::reverse(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
            }
            return;
        case Axis::kFollowing:
            if (kind == Kind::kAttribute) throw Refused();
            if (inMirror) EmitRange(step, End(i), m_mirror.size(), out);
            return;
        case Axis::kPreceding:
            if (kind == Kind::kAttribute) throw Refused();
            if (inMirror)
                for (Index j = i; j-- > 0;)
                    if (M(j).subtreeEnd <= i) EmitMirror(step, j, out);   // not an ancestor
            return;
        case Axis::kAttribute:
            if (kind == Kind::kElement)
                for (Index a = 0; a < M(i).attributeCount; ++a) Emit(step, XNode{c.node, M(i).firstAttribute + a + 1}, out);
            return;
        }
    }

    static constexpr uint32_t kNoParent = 0xFFFFFFFF;
    XNode Parent(XNode n) const {
        if (n.attribute) return XNode{n.node, 0};
        if (n.node == 0) return XNode{kNoParent, 0};
        const Index parent = M(n.node - 1).parent;
        return parent == PageMirror::kNone ? kDocument : MirrorNode(parent);
    }

    // Marks a document or mirror node for one evaluation of a step (its pass), so that the
    // step's other contexts do not walk it again; true when it was marked already. Steps
    // evaluated meanwhile, inside predicates, have passes of their own.
    bool Marked(XNode n, uint32_t pass) {
        if (m_marks.size() != m_mirror.size() + 1) m_marks.assign(m_mirror.size() + 1, 0);
        if (m_marks[n.node] == pass) return true;
        m_marks[n.node] = pass;
        return false;
    }

    void EvaluateStep(const Step& step, PathScratch& s) {
        s.next.clear();
        const uint32_t pass = ++m_passes;
        std::vector<XNode>& contexts = s.current;
        // Without positions a node's candidates do not depend on which context reached it:
        // contexts whose nodes an earlier one already reached are skipped.
        if (!step.positional) {
            switch (step.axis) {
            case Axis::kDescendant:
            case Axis::kDescendantOrSelf: {
                Index covered = 0;
                bool all = false;
                for (const XNode& c : contexts) {
                    const Kind kind = KindOf(c);
                    if (kind != Kind::kAttribute && (all || (kind != Kind::kDocument && c.node - 1 < covered))) continue;
                    CollectFiltered(step, c, pass, s);
                    if (kind == Kind::kDocument) all = true;
                    if (kind != Kind::kDocument && kind != Kind::kAttribute) covered = std::max(covered, End(c.node - 1));
                }
                break;
            }
            case Axis::kFollowing: {
                // The following nodes of all contexts are those of the one that ends first.
                const XNode* first = nullptr;
                for (const XNode& c : contexts) {
                    if (KindOf(c) == Kind::kAttribute) throw Refused();
                    if (KindOf(c) == Kind::kDocument) continue;
                    if (!first || End(c.node - 1) < End(first->node - 1)) first = &c;
                }
                if (first) CollectFiltered(step, *first, pass, s);
                break;
            }
            case Axis::kPreceding: {
                // And the preceding nodes of all are those of the last one: a node before an
                // earlier context that is an ancestor of the last one is an ancestor of that
                // context too.
                const XNode* last = nullptr;
                for (const XNode& c : contexts) {
                    if (KindOf(c) == Kind::kAttribute) throw Refused();
                    if (KindOf(c) != Kind::kDocument) last = &c;
                }
                if (last) CollectFiltered(step, *last, pass, s);
                break;
            }
            case Axis::kFollowingSibling:
            case Axis::kPrecedingSibling: {
                // The first context of each parent reaches all its following siblings, the last
                // all its preceding ones.
                const bool following = step.axis == Axis::kFollowingSibling;
                for (size_t k = 0; k < contexts.size(); ++k) {
                    const XNode& c = contexts[following ? k : contexts.size() - 1 - k];
                    const Kind kind = KindOf(c);
                    if (kind == Kind::kDocument || kind == Kind::kAttribute) continue;
                    if (Marked(Parent(c), pass)) continue;
                    CollectFiltered(step, c, pass, s);
                }
                break;
            }
            default:
                for (const XNode& c : contexts) CollectFiltered(step, c, pass, s);
                break;
            }
        } else {
            for (const XNode& c : contexts) CollectFiltered(step, c, pass, s);
        }
        if (!std::is_sorted(s.next.begin(), s.next.end())) std::sort(s.next.begin(), s.next.end());
        s.next.erase(std::unique(s.next.begin(), s.next.end()), s.next.end());
    }

    void CollectFiltered(const Step& step, const XNode& c, uint32_t pass, PathScratch& s) {
        s.candidates.clear();
        Collect(step, c, pass, s.candidates);
        Filter(step.predicates, s.candidates);
        s.next.insert(s.next.end(), s.candidates.begin(), s.candidates.end());
    }

    const xpath::Expression& m_expression;
    const PageMirror& m_mirror;
    std::vector<Value> m_values;
    std::vector<PathScratch> m_paths;
    std::vector<uint32_t> m_marks;
    uint32_t m_passes = 0;
    std::wstring m_scratch;
};

}  // namespace

namespace {

// Evaluates the expression on the mirror and hands the selection (null for a result that is no
// node-set) and the evaluator to `use`.
template <typename Use>
MirrorXPath::Outcome Run(const xpath::Expression& expression, const PageMirror& mirror, Use use) {
    if (expression.root() == xpath::kNoExpression || mirror.empty() || mirror.node(0).kind != PageMirror::kElement)
        return MirrorXPath::Outcome::kRefused;
    try {
        Evaluator evaluator(expression, mirror);
        const Value& result = evaluator.Evaluate(expression.root(), Context{kDocument, 1, 1});
        use(evaluator, result.type == Value::kNodeSet ? &result.nodes : nullptr);
        return MirrorXPath::Outcome::kEvaluated;
    } catch (const Refused&) {
        return MirrorXPath::Outcome::kRefused;
    }
}

}  // namespace

MirrorXPath::Outcome MirrorXPath::SelectFirstElement(const PageMirror& mirror, PageMirror::Index* element) const {
    *element = PageMirror::kNone;
    return Run(m_expression, mirror, [&](const Evaluator& evaluator, const std::vector<XNode>* nodes) {
        if (nodes && !nodes->empty() && evaluator.KindOf(nodes->front()) == Kind::kElement)
            *element = nodes->front().node - 1;
    });
}

MirrorXPath::Outcome MirrorXPath::Select(const PageMirror& mirror, std::vector<SelectedNode>* selection) const {
    selection->clear();
    return Run(m_expression, mirror, [&](const Evaluator&, const std::vector<XNode>* nodes) {
        if (!nodes) return;
        for (const XNode& n : *nodes)
            selection->push_back({n.node ? n.node - 1 : PageMirror::kNone, n.attribute ? n.attribute - 1 : PageMirror::kNone});
    });
}
