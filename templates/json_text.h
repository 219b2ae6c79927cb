// JSON text: the one way the DLL and the store tool read and write JSON, JavaScript's way of
// turning a JSON value into a string (as the content script sees the fields), and the structure
// of a text read without building it (its shape, the entries of an array, the members of an
// object). Everything here is about text; what a template is lives above it.
//
// Text from outside (a page's write, the store, a catalog or template file) may be nested
// deeper than any template: nesting is counted without recursion before anything walks it
// recursively, and refused past kMaxJsonDepth.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The deepest nesting of arrays and objects read from text: a catalog entry is about ten deep,
// a record six. The JSON library's writer and comparisons recurse once a level, on a browser
// thread's stack.
constexpr size_t kMaxJsonDepth = 64;

// Parses JSON text; throws nlohmann::json::parse_error (with the byte where it stopped, or the
// byte where the nesting went past kMaxJsonDepth) when it is none, and what the string and
// container types throw.
nlohmann::json ParseTemplateJson(const std::string& utf8);
nlohmann::json ParseTemplateJson(std::wstring_view text);
// The text of a value (parsed by ParseTemplateJson, so never deeper than kMaxJsonDepth):
// compact, or indented by two.
std::string WriteTemplateJson(const nlohmann::json& value, bool indented);
// The same for a value that keeps its members in the order they were added (a catalog entry).
std::string WriteTemplateJson(const nlohmann::ordered_json& value, bool indented);

// A JSON value as JavaScript's "" + value turns it into a string.
std::wstring ScriptString(const nlohmann::json& value);
// object[name] as "" + object[name] gives it: "undefined" when it is missing.
std::wstring ScriptField(const nlohmann::json& object, const char* name);

// The deepest nesting of arrays and objects in a text (strings skipped), whether or not it is
// valid JSON; counted without recursion.
size_t NestingDepth(std::string_view text);
size_t NestingDepth(std::wstring_view text);

// A range of a text.
struct TextSpan {
    size_t start = 0, length = 0;
};

// The text ranges of the entries of a top-level JSON array, each without the white space around
// it, so that an entry can be copied as it stands. Meant for a text known to be an array.
std::vector<std::pair<size_t, size_t>> ArrayEntrySpans(std::wstring_view text);

// What a text is as JSON's grammar reads it: strings with their escapes (a \u surrogate only in
// a pair), numbers, literals, white space of JSON's four kinds, and no nesting deeper than
// kMaxJsonDepth. Read in one pass, without recursion and without building anything. The empty
// text counts as an empty array (the store's convention); text only of white space is none.
enum class JsonShape { kArray, kOtherValue, kInvalid, kTooDeep };
// `entries` (when given) receives the ranges of a top-level array's entries, as ArrayEntrySpans.
JsonShape ReadJsonShape(std::wstring_view text, std::vector<TextSpan>* entries = nullptr);

// One member of an object's text: its name as written (quotes and escapes included), its value's
// text, and where the member starts (at its name) and ends (after its value).
struct JsonMember {
    std::wstring_view name;
    std::wstring_view value;
    size_t start = 0, end = 0;
};
// The members of an object's text, in order; empty for anything but an object. Meant for text
// ReadJsonShape has passed.
std::vector<JsonMember> ObjectMembers(std::wstring_view object);
// The same, one at a time, without gathering them.
class JsonMembers {
public:
    explicit JsonMembers(std::wstring_view object);
    // False when there is none left.
    bool Next(JsonMember* member);

private:
    std::wstring_view m_object;
    size_t m_at;
};

// The text without the white space between its tokens (strings kept as they stand).
std::wstring CompactJsonText(std::wstring_view text);
void AppendCompactJson(std::wstring& out, std::wstring_view text);

// A JSON string literal of a text, as the content script's writer escapes it: quotes, backslashes
// and controls, and the line separators U+2028 and U+2029, which end a line in an older engine's
// eval.
std::wstring JsonStringLiteral(std::wstring_view text);

// The same, appended to `out` (anything with Append(const wchar_t*, size_t)) piece by piece, so
// that a secret is never copied anywhere but where the caller keeps it (SecretText).
template <typename Out>
void AppendJsonString(Out& out, const wchar_t* text, size_t length) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    out.Append(L"\"", 1);
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (c == L'"' || c == L'\\') {
            const wchar_t escaped[2] = {L'\\', c};
            out.Append(escaped, 2);
        } else if (c < 0x20 || c == 0x2028 || c == 0x2029) {
            const wchar_t escaped[6] = {L'\\', L'u', kHex[(c >> 12) & 0xF], kHex[(c >> 8) & 0xF], kHex[(c >> 4) & 0xF],
                                        kHex[c & 0xF]};
            out.Append(escaped, 6);
        } else {
            out.Append(&c, 1);
        }
    }
    out.Append(L"\"", 1);
}
