#include "templates/json_text.h"

#include "common/text.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cwchar>

using nlohmann::json;

namespace {

template <typename Char>
bool IsJsonSpace(Char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Walks a text as JSON's structure sees it, without parsing: strings (with their escapes) are
// stepped over, and `visit(position, character, depth)` is called for every other character
// that is not white space, with the depth of brackets and braces open before it. Brackets that
// close more than were opened are passed over.
template <typename Char, typename Visit>
void ScanJsonStructure(std::basic_string_view<Char> text, Visit visit) {
    size_t depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const Char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
            continue;
        }
        if (IsJsonSpace(c)) continue;
        if ((c == ']' || c == '}')) {
            if (depth == 0) continue;
            --depth;
        }
        visit(i, c, depth);
        if (c == '"') inString = true;
        if (c == '[' || c == '{') ++depth;
    }
}

template <typename Char>
size_t DeepestNesting(std::basic_string_view<Char> text) {
    size_t deepest = 0;
    ScanJsonStructure(text, [&](size_t, Char c, size_t depth) {
        if (c == '[' || c == '{') deepest = std::max(deepest, depth + 1);
    });
    return deepest;
}

// The first place where the nesting goes past kMaxJsonDepth, or npos.
size_t PlaceTooDeep(std::string_view text) {
    size_t place = std::string_view::npos;
    ScanJsonStructure(text, [&](size_t i, char c, size_t depth) {
        if (place == std::string_view::npos && (c == '[' || c == '{') && depth + 1 > kMaxJsonDepth) place = i;
    });
    return place;
}

std::wstring ScriptStringAt(const json& value, int depth) {
    if (value.is_string()) return Utf8ToWide(value.get<std::string>());
    if (value.is_null()) return L"null";
    if (value.is_boolean()) return value.get<bool>() ? L"true" : L"false";
    if (value.is_number_integer()) return std::to_wstring(value.get<long long>());
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::floor(d) == d && std::fabs(d) < 1e15) return std::to_wstring(static_cast<long long>(d));
        return Utf8ToWide(value.dump());
    }
    if (value.is_array()) {
        std::wstring joined;
        // Values read here are never deeper than kMaxJsonDepth; the guard keeps it so for values
        // built some other way.
        if (depth > static_cast<int>(kMaxJsonDepth)) return joined;
        for (size_t i = 0; i < value.size(); ++i)
            joined += (i ? L"," : L"") + (value[i].is_null() ? L"" : ScriptStringAt(value[i], depth + 1));
        return joined;
    }
    return L"[object Object]";
}

// ---- reading a text's shape ----

constexpr size_t kNone = static_cast<size_t>(-1);

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool ReadHex4(std::wstring_view t, size_t at, unsigned* unit) {
    if (at + 4 > t.size()) return false;
    unsigned value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const wchar_t c = t[i];
        value <<= 4;
        if (c >= L'0' && c <= L'9') value |= c - L'0';
        else if (c >= L'a' && c <= L'f') value |= c - L'a' + 10;
        else if (c >= L'A' && c <= L'F') value |= c - L'A' + 10;
        else return false;
    }
    *unit = value;
    return true;
}

// From the opening quote at `i`: the place after the closing quote, or kNone where the string is
// not JSON's (a control character, an unknown escape, a \u surrogate out of its pair).
size_t SkipString(std::wstring_view t, size_t i) {
    for (++i; i < t.size();) {
        const wchar_t c = t[i];
        if (c == L'"') return i + 1;
        if (c < 0x20) return kNone;
        if (c != L'\\') {
            ++i;
            continue;
        }
        if (++i >= t.size()) return kNone;
        switch (t[i]) {
            case L'"': case L'\\': case L'/': case L'b': case L'f': case L'n': case L'r': case L't':
                ++i;
                continue;
            case L'u':
                break;
            default:
                return kNone;
        }
        unsigned unit = 0, low = 0;
        if (!ReadHex4(t, i + 1, &unit)) return kNone;
        i += 5;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return kNone;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 6 > t.size() || t[i] != L'\\' || t[i + 1] != L'u' || !ReadHex4(t, i + 2, &low) || low < 0xDC00 ||
                low > 0xDFFF)
                return kNone;
            i += 6;
        }
    }
    return kNone;
}

size_t SkipDigits(std::wstring_view t, size_t i) {
    const size_t start = i;
    while (i < t.size() && IsDigit(t[i])) ++i;
    return i == start ? kNone : i;
}

// A number as JSON writes it: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
size_t SkipNumber(std::wstring_view t, size_t i) {
    if (t[i] == L'-') ++i;
    if (i >= t.size()) return kNone;
    if (t[i] == L'0') ++i;
    else if ((i = SkipDigits(t, i)) == kNone) return kNone;
    if (i < t.size() && t[i] == L'.' && (i = SkipDigits(t, i + 1)) == kNone) return kNone;
    if (i < t.size() && (t[i] == L'e' || t[i] == L'E')) {
        ++i;
        if (i < t.size() && (t[i] == L'+' || t[i] == L'-')) ++i;
        if ((i = SkipDigits(t, i)) == kNone) return kNone;
    }
    return i;
}

// Whether a number's text (valid as JSON writes it) has a finite value: the library's reader
// refuses one that overflows a double ("1e400"). Only a long text or one with an exponent can.
bool IsFiniteNumber(std::wstring_view number) {
    if (number.size() < 300 && number.find_first_of(L"eE") == std::wstring_view::npos) return true;
    std::string narrow(number.begin(), number.end());
    return std::isfinite(std::strtod(narrow.c_str(), nullptr));
}

size_t SkipWord(std::wstring_view t, size_t i, std::wstring_view word) {
    return t.substr(i, word.size()) == word ? i + word.size() : kNone;
}

size_t SkipSpace(std::wstring_view t, size_t i) {
    while (i < t.size() && IsJsonSpace(t[i])) ++i;
    return i;
}

// From the first character of a value known to be valid: the place after it.
size_t SkipValue(std::wstring_view t, size_t i) {
    if (t[i] == L'"') return SkipString(t, i);
    if (t[i] != L'[' && t[i] != L'{') {
        while (i < t.size() && !IsJsonSpace(t[i]) && t[i] != L',' && t[i] != L']' && t[i] != L'}') ++i;
        return i;
    }
    size_t depth = 0;
    for (; i < t.size(); ++i) {
        const wchar_t c = t[i];
        if (c == L'"') {
            i = SkipString(t, i) - 1;
        } else if (c == L'[' || c == L'{') {
            ++depth;
        } else if ((c == L']' || c == L'}') && --depth == 0) {
            return i + 1;
        }
    }
    return t.size();
}

}  // namespace

json ParseTemplateJson(const std::string& utf8) {
    // The library's reader keeps its own stack, but what is done with the value afterwards
    // (writing, comparing) recurses once a level.
    const size_t tooDeep = PlaceTooDeep(utf8);
    if (tooDeep != std::string::npos)
        throw json::parse_error::create(101, tooDeep + 1,
                                        "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels", nullptr);
    return json::parse(utf8);
}

json ParseTemplateJson(std::wstring_view text) { return ParseTemplateJson(WideToUtf8(std::wstring(text))); }

std::string WriteTemplateJson(const json& value, bool indented) { return indented ? value.dump(2) : value.dump(); }
std::string WriteTemplateJson(const nlohmann::ordered_json& value, bool indented) {
    return indented ? value.dump(2) : value.dump();
}

std::wstring ScriptString(const json& value) { return ScriptStringAt(value, 0); }

std::wstring ScriptField(const json& object, const char* name) {
    if (!object.is_object() || !object.contains(name)) return L"undefined";
    return ScriptString(object[name]);
}

size_t NestingDepth(std::string_view text) { return DeepestNesting(text); }
size_t NestingDepth(std::wstring_view text) { return DeepestNesting(text); }

std::vector<std::pair<size_t, size_t>> ArrayEntrySpans(std::wstring_view text) {
    std::vector<std::pair<size_t, size_t>> spans;
    size_t start = kNone;
    auto close = [&](size_t end) {
        while (end > start && IsJsonSpace(text[end - 1])) --end;
        spans.emplace_back(start, end - start);
        start = kNone;
    };
    ScanJsonStructure(text, [&](size_t i, wchar_t c, size_t depth) {
        // `depth` is what is open before c (for a closing bracket: after it closes).
        if (c == L']' || c == L'}') {
            if (depth == 0 && start != kNone) close(i);
            return;
        }
        if (c == L',' && depth == 1) {
            close(i);
            return;
        }
        if (depth == 1 && start == kNone) start = i;
    });
    return spans;
}

JsonShape ReadJsonShape(std::wstring_view t, std::vector<TextSpan>* entries) {
    if (entries) entries->clear();
    if (t.empty()) return JsonShape::kArray;
    enum class State { kValue, kArrayFirst, kObjectFirst, kName, kAfterValue };
    std::vector<wchar_t> open;   // the containers open, '[' or '{'
    State state = State::kValue;
    size_t entryStart = kNone;
    size_t i = SkipSpace(t, 0);
    const bool array = i < t.size() && t[i] == L'[';
    // A value of the top-level array ended at `end`.
    auto endValue = [&](size_t end) {
        state = State::kAfterValue;
        if (entries && entryStart != kNone && open.size() == 1) {
            entries->push_back({entryStart, end - entryStart});
            entryStart = kNone;
        }
    };
    for (;;) {
        i = SkipSpace(t, i);
        if (i >= t.size()) {
            if (state == State::kAfterValue && open.empty()) return array ? JsonShape::kArray : JsonShape::kOtherValue;
            break;
        }
        const wchar_t c = t[i];
        if (state == State::kAfterValue) {
            if (open.empty()) break;   // text after the value
            if (c == L',') {
                state = open.back() == L'[' ? State::kValue : State::kName;
                ++i;
                continue;
            }
            if (c != (open.back() == L'[' ? L']' : L'}')) break;
            open.pop_back();
            endValue(++i);
            continue;
        }
        if (state == State::kArrayFirst && c == L']') {
            open.pop_back();
            endValue(++i);
            continue;
        }
        if (state == State::kObjectFirst && c == L'}') {
            open.pop_back();
            endValue(++i);
            continue;
        }
        if (state == State::kObjectFirst || state == State::kName) {
            if (c != L'"' || (i = SkipString(t, i)) == kNone) break;
            i = SkipSpace(t, i);
            if (i >= t.size() || t[i] != L':') break;
            ++i;
            state = State::kValue;
            continue;
        }
        // A value.
        if (open.size() == 1 && open.back() == L'[') entryStart = i;
        if (c == L'[' || c == L'{') {
            if (open.size() >= kMaxJsonDepth) return JsonShape::kTooDeep;
            open.push_back(c);
            state = c == L'[' ? State::kArrayFirst : State::kObjectFirst;
            ++i;
            continue;
        }
        size_t end = kNone;
        if (c == L'"') end = SkipString(t, i);
        else if (c == L'-' || IsDigit(c)) {
            end = SkipNumber(t, i);
            if (end != kNone && !IsFiniteNumber(t.substr(i, end - i))) end = kNone;
        }
        else if (c == L't') end = SkipWord(t, i, L"true");
        else if (c == L'f') end = SkipWord(t, i, L"false");
        else if (c == L'n') end = SkipWord(t, i, L"null");
        if (end == kNone) break;
        i = end;
        endValue(end);
    }
    if (entries) entries->clear();
    return JsonShape::kInvalid;
}

JsonMembers::JsonMembers(std::wstring_view object) : m_object(object) {
    size_t i = SkipSpace(object, 0);
    m_at = i < object.size() && object[i] == L'{' ? SkipSpace(object, i + 1) : object.size();
}

bool JsonMembers::Next(JsonMember* member) {
    size_t i = m_at;
    const std::wstring_view object = m_object;
    m_at = object.size();   // unless a whole member is read
    if (i >= object.size() || object[i] != L'"') return false;
    member->start = i;
    const size_t nameEnd = SkipString(object, i);
    if (nameEnd == kNone) return false;
    member->name = object.substr(i, nameEnd - i);
    i = SkipSpace(object, nameEnd);
    if (i >= object.size() || object[i] != L':') return false;
    i = SkipSpace(object, i + 1);
    if (i >= object.size()) return false;
    const size_t valueEnd = SkipValue(object, i);
    if (valueEnd == kNone) return false;
    member->value = object.substr(i, valueEnd - i);
    member->end = valueEnd;
    i = SkipSpace(object, valueEnd);
    if (i < object.size() && object[i] == L',') m_at = SkipSpace(object, i + 1);
    return true;
}

std::vector<JsonMember> ObjectMembers(std::wstring_view object) {
    std::vector<JsonMember> members;
    JsonMembers reader(object);
    for (JsonMember member; reader.Next(&member);) members.push_back(member);
    return members;
}

void AppendCompactJson(std::wstring& out, std::wstring_view text) {
    // Runs without white space (most of a template's text) are copied whole.
    size_t i = 0;
    while (i < text.size()) {
        size_t run = i;
        while (run < text.size() && !IsJsonSpace(text[run]) && text[run] != L'"') ++run;
        out.append(text.data() + i, run - i);
        i = run;
        if (i >= text.size()) break;
        if (text[i] == L'"') {
            const size_t end = SkipString(text, i);
            const size_t stop = end == kNone ? text.size() : end;
            out.append(text.data() + i, stop - i);
            i = stop;
        } else {
            ++i;   // white space between tokens
        }
    }
}

std::wstring CompactJsonText(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    AppendCompactJson(out, text);
    return out;
}

std::wstring JsonStringLiteral(std::wstring_view text) {
    struct Sink {
        std::wstring text;
        void Append(const wchar_t* units, size_t length) { text.append(units, length); }
    } out;
    out.text.reserve(text.size() + 2);
    AppendJsonString(out, text.data(), text.size());
    return out.text;
}
