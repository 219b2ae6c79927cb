// An XPath 1.0 expression read into the tree that the mirror evaluator walks (xpath_evaluator.h).
//
// Parse takes the whole language as it applies to a document without namespaces, and refuses
// (false) what it leaves to MSXML: variables, names with a prefix and the namespace axis, id()
// and lang(), functions of no XPath 1.0 library, names or white space outside ASCII, a number
// written with an exponent (XPath 1.0 has none; MSXML's parsers disagree about it), a literal
// holding half a surrogate pair, a path of "." and "//" alone (Wine's MSXML evaluates it
// wrongly), nesting deeper than kDeepestNesting or a tree higher than kHighestTree, and whatever
// is no XPath. A refused expression is evaluated by MSXML, which also decides whether it is an
// error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xpath {

enum class Axis : uint8_t {
    kAncestor, kAncestorOrSelf, kAttribute, kChild, kDescendant, kDescendantOrSelf, kFollowing,
    kFollowingSibling, kParent, kPreceding, kPrecedingSibling, kSelf
};

// A node test: a name, "*", or a node type.
enum class NodeTest : uint8_t { kName, kAnyName, kNode, kText, kComment, kProcessingInstruction };

enum class Function : uint8_t {
    kLast, kPosition, kCount, kLocalName, kNamespaceUri, kName, kString, kConcat, kStartsWith, kContains,
    kSubstringBefore, kSubstringAfter, kSubstring, kStringLength, kNormalizeSpace, kTranslate, kBoolean,
    kNot, kTrue, kFalse, kNumber, kSum, kFloor, kCeiling, kRound
};

using Id = uint32_t;   // an expression's place in Expression::nodes
constexpr Id kNoExpression = 0xFFFFFFFF;

struct Predicate {
    Id expression;
    // The predicate may depend on the candidate's position or the candidates' number (a number,
    // or position() or last() in its own context), so the candidates cannot be filtered one
    // by one nor merged before it is applied.
    bool positional;
};

struct Step {
    Step(Axis axis, NodeTest test) : axis(axis), test(test) {}
    Axis axis;
    NodeTest test;
    bool hasTarget = false;   // processing-instruction('target')
    std::wstring name;        // the name of kName, the target of processing-instruction('target')
    std::vector<Predicate> predicates;
    bool positional = false;  // some predicate is
};

struct Node {
    enum Kind : uint8_t {
        kOr, kAnd, kEqual, kNotEqual, kLess, kLessOrEqual, kGreater, kGreaterOrEqual, kAdd, kSubtract,
        kMultiply, kDivide, kModulo, kNegate, kUnion, kNumber, kLiteral, kCall, kPath
    };
    explicit Node(Kind kind) : kind(kind) {}
    Kind kind;
    std::vector<Id> operands;   // operators, unions and the arguments of a call
    double number = 0;          // kNumber
    std::wstring literal;       // kLiteral
    Function function = Function::kLast;
    uint16_t height = 1;        // of the tree below, this node included
    // kPath: a location path, absolute or relative to the context node, or a filter expression
    // (a primary expression with predicates) followed by steps.
    bool absolute = false;
    Id filter = kNoExpression;
    std::vector<Predicate> filterPredicates;
    std::vector<Step> steps;
};

class Expression {
public:
    // Parentheses, predicates, calls and unary minus nest, and the reader recurses a dozen calls
    // deep for each level on the browser thread's stack; past this depth MSXML decides.
    static constexpr int kDeepestNesting = 32;
    // Evaluation recurses through the tree; a taller one (a chain of hundreds of operators) is
    // left to MSXML.
    static constexpr unsigned kHighestTree = 200;

    bool Parse(const wchar_t* text, size_t length);

    Id root() const { return m_root; }
    const Node& node(Id id) const { return m_nodes[id]; }
    size_t size() const { return m_nodes.size(); }

private:
    friend class Parser;
    std::vector<Node> m_nodes;
    Id m_root = kNoExpression;
};

// number() of a string: XPath's number syntax (digits with an optional fraction, an optional
// leading minus, white space around) read as libxml2 reads it, which is how Wine's MSXML
// converts; NaN for any other text. False when the text is written in a way MSXML's readers
// disagree about (an exponent, a minus without digits, more than 15 significant digits, more
// than 22 places after the point): MSXML decides then.
bool StringToNumber(std::wstring_view text, double* value);

}  // namespace xpath
