#include "templates/store_merge.h"

#include "common/text.h"
#include "templates/store_records.h"
#include "templates/template_expiry.h"
#include "templates/template_isolation.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <unordered_map>

using nlohmann::json;

namespace {

constexpr int kNone = -1;

// The fields the content script keeps its run state in: written back with every check, they say
// nothing about which template it is.
bool IsRunStateName(std::wstring_view name) {
    static constexpr std::wstring_view kNames[] = {L"\"ID\"", L"\"maxRetries\"", L"\"retryInterval\"",
                                                   L"\"startElement\"", L"\"startAction\""};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

size_t HashOf(std::wstring_view text) { return std::hash<std::wstring_view>()(text); }

constexpr std::wstring_view kStampName = L"\"stamp\"";

// Whether an entry's text may have a stamp: a cheap look before its members are read.
bool HasStamp(std::wstring_view text) {
    // Looked for by its rarer letters: a quote, which the search would stop at first, is
    // everywhere in JSON.
    for (size_t at = text.find(L"stamp\""); at != std::wstring_view::npos; at = text.find(L"stamp\"", at + 1))
        if (at > 0 && text[at - 1] == L'"') return true;
    return false;
}

bool IsObjectText(std::wstring_view text) { return !text.empty() && text.front() == L'{'; }

// The entry with `stamp` as its "stamp" (in place of whatever stands there), or with no "stamp"
// at all when `stamp` is empty.
std::wstring Stamped(std::wstring_view entry, const std::wstring& stamp) {
    const std::vector<JsonMember> members = ObjectMembers(entry);
    for (size_t m = 0; m < members.size(); ++m) {
        const JsonMember& member = members[m];
        if (member.name != kStampName) continue;
        if (!stamp.empty()) {
            const size_t valueStart = member.end - member.value.size();
            return std::wstring(entry.substr(0, valueStart)) + stamp + std::wstring(entry.substr(member.end));
        }
        // Taken out with the comma that joins it to its neighbour.
        const size_t from = m > 0 ? members[m - 1].end : member.start;
        const size_t to = m > 0 ? member.end : (m + 1 < members.size() ? members[m + 1].start : member.end);
        return std::wstring(entry.substr(0, from)) + std::wstring(entry.substr(to));
    }
    if (stamp.empty()) return std::wstring(entry);
    size_t close = entry.size();
    while (close > 0 && entry[close - 1] != L'}') --close;
    if (close == 0) return std::wstring(entry);
    --close;
    size_t last = close;
    while (last > 0 && (entry[last - 1] == L' ' || entry[last - 1] == L'\t' || entry[last - 1] == L'\n' ||
                        entry[last - 1] == L'\r'))
        --last;
    const bool empty = last > 0 && entry[last - 1] == L'{';
    return std::wstring(entry.substr(0, last)) + (empty ? L"" : L",") + L"\"stamp\":" + stamp +
           std::wstring(entry.substr(last));
}

// One entry of a text, with what is learnt of it only when it is needed: most entries of a
// write are matched by their text alone and never parsed.
struct Entry {
    std::wstring_view text;
    int match = kNone;   // the entry of the other text it is matched with
    bool hasCore = false;
    std::wstring core;
    bool parsed = false, parses = false;
    json value;
    bool hasParsedCore = false;
    std::string parsedCore;
    bool hasPlain = false;
    std::wstring plain;
};

class Entries {
public:
    // False when the text is no JSON array (the empty text is an empty one).
    JsonShape Read(std::wstring_view text) {
        std::vector<TextSpan> spans;
        const JsonShape shape = ReadJsonShape(text, &spans);
        m_textSize = text.size();
        m_entries.clear();
        m_entries.reserve(spans.size());
        for (const TextSpan& span : spans) {
            Entry entry;
            entry.text = text.substr(span.start, span.length);
            m_entries.push_back(std::move(entry));
        }
        return shape;
    }

    size_t size() const { return m_entries.size(); }
    // The length of the text the entries were read from.
    size_t TextSize() const { return m_textSize; }
    Entry& operator[](size_t i) { return m_entries[i]; }
    const Entry& operator[](size_t i) const { return m_entries[i]; }

    // The entry's text without white space between tokens and, for an object, without its run
    // state and its stamp: equal for a template written back by a page and the same template as
    // stored (a page never has the stamps the extension put on what it wrote).
    const std::wstring& Core(size_t i) {
        Entry& entry = m_entries[i];
        if (entry.hasCore) return entry.core;
        entry.hasCore = true;
        if (entry.text.empty() || entry.text.front() != L'{') {
            entry.core = CompactJsonText(entry.text);
            return entry.core;
        }
        entry.core = L"{";
        for (const JsonMember& member : ObjectMembers(entry.text)) {
            if (IsRunStateName(member.name) || member.name == kStampName) continue;
            AppendCompactJson(entry.core, member.name);
            entry.core += L':';
            AppendCompactJson(entry.core, member.value);
            entry.core += L',';
        }
        entry.core += L'}';
        return entry.core;
    }

    // The entry's text without white space between tokens and without its stamp: equal for two
    // versions of an entry that differ in nothing but who wrote them.
    const std::wstring& Plain(size_t i) {
        Entry& entry = m_entries[i];
        if (entry.hasPlain) return entry.plain;
        entry.hasPlain = true;
        entry.plain = CompactJsonText(entry.text.front() == L'{' ? std::wstring_view(Stamped(entry.text, std::wstring()))
                                                               : entry.text);
        return entry.plain;
    }

    // The value of the entry's "stamp" as it stands (empty: none).
    std::wstring StampOfText(size_t i) const {
        for (const JsonMember& member : ObjectMembers(m_entries[i].text))
            if (member.name == kStampName) return std::wstring(member.value);
        return std::wstring();
    }

    // The entry parsed, or null when the library's reader refuses it.
    const json* Value(size_t i) {
        Entry& entry = m_entries[i];
        if (!entry.parsed) {
            entry.parsed = true;
            try {
                entry.value = ParseTemplateJson(entry.text);
                entry.parses = true;
            } catch (const json::exception&) {
                entry.parses = false;
            }
        }
        return entry.parses ? &entry.value : nullptr;
    }

    // The same core as the parsed value sees it: for texts that differ in their escapes or the
    // order of their members. Empty when it does not parse.
    const std::string& ParsedCore(size_t i) {
        Entry& entry = m_entries[i];
        if (entry.hasParsedCore) return entry.parsedCore;
        entry.hasParsedCore = true;
        if (const json* value = Value(i)) {
            json core = *value;
            if (core.is_object())
                for (const char* field : {"ID", "maxRetries", "retryInterval", "startElement", "startAction", "stamp"})
                    core.erase(field);
            entry.parsedCore = WriteTemplateJson(core, false);
        }
        return entry.parsedCore;
    }

private:
    std::vector<Entry> m_entries;
    size_t m_textSize = 0;
};

// Matches entries of `from` with unmatched entries of `to` by a key; among those with the same
// key the first at or after the place of the last match is taken, so that duplicates pair in
// order.
template <typename Key, typename KeyOf>
void MatchBy(Entries& from, Entries& to, KeyOf keyOf, const std::function<bool(size_t, size_t)>& same) {
    std::unordered_map<Key, std::vector<size_t>> places;
    for (size_t j = 0; j < to.size(); ++j)
        if (to[j].match == kNone) {
            const std::optional<Key> key = keyOf(to, j);
            if (key) places[*key].push_back(j);
        }
    if (places.empty()) return;
    size_t cursor = 0;
    for (size_t i = 0; i < from.size(); ++i) {
        if (from[i].match != kNone) {
            cursor = static_cast<size_t>(from[i].match) + 1;
            continue;
        }
        const std::optional<Key> key = keyOf(from, i);
        if (!key) continue;
        const auto found = places.find(*key);
        if (found == places.end()) continue;
        int best = kNone;
        for (size_t j : found->second) {
            if (to[j].match != kNone || !same(i, j)) continue;
            if (best == kNone || (static_cast<size_t>(best) < cursor && j >= cursor)) best = static_cast<int>(j);
            if (j >= cursor) break;
        }
        if (best == kNone) continue;
        from[i].match = best;
        to[static_cast<size_t>(best)].match = static_cast<int>(i);
        cursor = static_cast<size_t>(best) + 1;
    }
}

// How a written entry stands to what the page read.
enum class Change { kSame, kRunState, kRecordUpdate, kAdded };

// Whether two entries are the same template apart from their run state and their stamp, read
// member by member without building either: the page's usual write-back gives most of its
// templates a new run state, so this is where a write spends its time.
bool SameButRunState(std::wstring_view a, std::wstring_view b) {
    if (a.empty() || b.empty() || a.front() != L'{' || b.front() != L'{') return false;
    JsonMembers first(a), second(b);
    auto next = [](JsonMembers& members, JsonMember* member) {
        while (members.Next(member))
            if (!IsRunStateName(member->name) && member->name != kStampName) return true;
        return false;
    };
    JsonMember x, y;
    for (;;) {
        const bool more = next(first, &x);
        if (more != next(second, &y)) return false;
        if (!more) return true;
        if (x.name != y.name) return false;
        if (x.value != y.value && CompactJsonText(x.value) != CompactJsonText(y.value)) return false;
    }
}

// Matches what the page wrote with what it read in order, as a write-back keeps it: the same
// entry, or the same template with its run state moved, at the next place or a few further on
// (the entries between were dropped). What this leaves is matched by the passes below.
void MatchInOrder(Entries& written, Entries& base, std::vector<Change>* change) {
    constexpr size_t kLookAhead = 4;
    size_t cursor = 0;
    for (size_t i = 0; i < written.size() && cursor < base.size(); ++i) {
        for (size_t j = cursor; j < base.size() && j <= cursor + kLookAhead; ++j) {
            if (base[j].match != kNone) continue;
            const bool same = written[i].text == base[j].text;
            if (!same && !SameButRunState(written[i].text, base[j].text)) continue;
            written[i].match = static_cast<int>(j);
            base[j].match = static_cast<int>(i);
            (*change)[i] = same ? Change::kSame : Change::kRunState;
            cursor = j + 1;
            break;
        }
    }
}

void MatchExactly(Entries& from, Entries& to) {
    MatchBy<size_t>(from, to, [](Entries& list, size_t i) { return std::optional<size_t>(HashOf(list[i].text)); },
                    [&](size_t i, size_t j) { return from[i].text == to[j].text; });
}

void MatchByCore(Entries& from, Entries& to) {
    MatchBy<std::wstring>(from, to, [](Entries& list, size_t i) { return std::optional<std::wstring>(list.Core(i)); },
                          [](size_t, size_t) { return true; });
}

void MatchByParsedCore(Entries& from, Entries& to) {
    MatchBy<std::string>(
        from, to,
        [](Entries& list, size_t i) {
            const std::string& core = list.ParsedCore(i);
            return core.empty() ? std::optional<std::string>() : std::optional<std::string>(core);
        },
        [](size_t, size_t) { return true; });
}

// An outcome record's identity: its attempt and its site.
std::optional<std::string> RecordKey(Entries& list, size_t i) {
    const std::wstring_view text = list[i].text;
    if (text.find(L"\"outcome\"") == std::wstring_view::npos) return std::nullopt;
    const json* value = list.Value(i);
    if (!value || RecordKindOf(*value) != RecordKind::kOutcome) return std::nullopt;
    return WideToUtf8(ScriptField(*value, "attempt")) + '\n' + WideToUtf8(ScriptField(*value, "url"));
}


class Merge {
public:
    Merge(const PageWrite& write, const ParsedTemplates* parsedCurrent)
        : m_write(write),
          m_parsedCurrent(parsedCurrent),
          // The object without a page has no origin to vouch for: what it writes carries no stamp.
          m_stamp(write.stamp.origin.empty() ? std::wstring() : StampText(write.stamp)) {}

    MergeVerdict Run(std::wstring_view current, MergeResult* result) {
        const JsonShape written = m_written.Read(m_write.written);
        if (written == JsonShape::kTooDeep) return MergeVerdict::kWrittenTooDeep;
        if (written != JsonShape::kArray) return MergeVerdict::kWrittenNotAnArray;
        bool sameAsRead = current == m_write.base;
        if (m_current.Read(current) != JsonShape::kArray) {
            if (m_write.isolated) return MergeVerdict::kStoreNotAnArray;
            // Nothing of it can be kept entry by entry: the page's text takes its place.
            m_current.Read(std::wstring_view());
            m_base.Read(std::wstring_view());
            sameAsRead = true;
        } else if (sameAsRead) {
            m_base = m_current;
        } else if (m_base.Read(m_write.base) != JsonShape::kArray) {
            m_base.Read(std::wstring_view());   // what the page read was no array: nothing read
        }

        m_stampsAnywhere = HasStamp(m_write.written) || HasStamp(current);
        Classify();
        MapBaseToCurrent(sameAsRead);
        Decide();
        const bool substituted = std::any_of(m_text.begin(), m_text.end(), [](const std::wstring& t) { return !t.empty(); });
        result->unchanged = sameAsRead && m_asWritten && !substituted;
        if (!result->unchanged) result->text = sameAsRead && m_asWritten ? AsWritten() : Rebuilt();
        result->leftOut = m_leftOut;
        return MergeVerdict::kMerged;
    }

    // ---- what the page changed ----

    void Classify() {
        m_change.assign(m_written.size(), Change::kAdded);
        std::vector<bool> known(m_written.size(), false);
        auto note = [&](Change change) {
            for (size_t i = 0; i < m_written.size(); ++i)
                if (m_written[i].match != kNone && !known[i]) known[i] = true, m_change[i] = change;
        };
        MatchInOrder(m_written, m_base, &m_change);
        for (size_t i = 0; i < m_written.size(); ++i) known[i] = m_written[i].match != kNone;
        MatchExactly(m_written, m_base);
        note(Change::kSame);
        MatchByCore(m_written, m_base);
        MatchByParsedCore(m_written, m_base);
        note(Change::kRunState);
        MatchBy<std::string>(m_written, m_base, RecordKey, [](size_t, size_t) { return true; });
        note(Change::kRecordUpdate);
    }

    // ---- where what the page read stands in the store now ----

    void MapBaseToCurrent(bool sameAsRead) {
        m_baseInCurrent.assign(m_base.size(), kNone);
        m_currentVariant.assign(m_current.size(), false);
        if (sameAsRead) {
            for (size_t j = 0; j < m_base.size(); ++j) m_baseInCurrent[j] = static_cast<int>(j);
            return;
        }
        // The matches of the write are kept aside: the same lists are matched again here.
        std::vector<int> written(m_base.size());
        for (size_t j = 0; j < m_base.size(); ++j) written[j] = m_base[j].match, m_base[j].match = kNone;
        // In order first (what others wrote meanwhile is mostly added after it), then wherever it went.
        std::vector<Change> unused(m_base.size(), Change::kAdded);
        MatchInOrder(m_base, m_current, &unused);
        MatchExactly(m_base, m_current);
        // A template another writer changed in its run state only is the same template.
        MatchByCore(m_base, m_current);
        for (size_t j = 0; j < m_base.size(); ++j) {
            m_baseInCurrent[j] = m_base[j].match;
            // Another writer changed it since (beyond who wrote it: the page's own text lacks the
            // stamp the store carries).
            const int k = m_base[j].match;
            if (k != kNone && m_current[k].text != m_base[j].text && m_current.Plain(k) != m_base.Plain(j))
                m_currentVariant[k] = true;
            m_base[j].match = written[j];
        }
    }

    // ---- which of the page's changes apply ----

    bool PageOwns(Entries& list, size_t i) {
        const json* value = list.Value(i);
        return value && PageOwnsEntry(*value, m_write.pageUrl);
    }

    // Bytes of the store the page's origin has added and that this write leaves as they are.
    size_t OriginShareKept() {
        if (!m_write.isolated || !m_parsedCurrent || m_parsedCurrent->templates.size() != m_current.size()) return 0;
        std::vector<bool> replaced(m_current.size(), false);
        for (size_t j = 0; j < m_base.size(); ++j) {
            const int k = m_baseInCurrent[j];
            if (k == kNone) continue;
            const int i = m_base[j].match;
            if (i == kNone || m_change[static_cast<size_t>(i)] != Change::kSame) replaced[k] = true;
        }
        size_t used = 0;
        for (size_t k = 0; k < m_current.size(); ++k)
            if (!replaced[k] && m_parsedCurrent->templates[k].stampOrigin == m_write.stamp.origin)
                used += m_current[k].text.size();
        return used;
    }

    bool MaySettle(const json& submitted) {
        const EntryStamp by = StampOf(submitted);
        if (ScriptField(submitted, "outcome") != L"submitted") return false;
        // A record no page of a known origin wrote (the object without a page did) vouches for
        // nothing: whoever writes without a stamp may settle it, and it stays unstamped.
        if (!by.present) return m_stamp.empty();
        if (Utf8ToWide(by.origin) != m_write.stamp.origin || Utf8ToWide(by.tab) != m_write.stamp.tab) return false;
        // What a password change did is told by the page that sent it or the next one, never later.
        if (ScriptField(submitted, "kind") == L"passwordChange" &&
            (m_write.stamp.page < by.page || m_write.stamp.page > by.page + 1))
            return false;
        return true;
    }

    bool MayAdd(size_t i) {
        const json* value = m_written.Value(i);
        if (!value) return false;
        // What is no object carries no stamp and is nobody's template or record.
        if (!value->is_object()) return !m_write.isolated;
        // Without isolation a page may write anything a program may: no rule of the store tool's
        // own records is safe from it anyway, and the tool acts on none it did not write.
        if (!m_write.isolated) return true;
        // Only the store tool arms a recorder or launches a sign-on.
        if (RecordKindOf(*value) == RecordKind::kRecorder || value->contains("launchId")) return false;
        if (!PageOwnsEntry(*value, m_write.pageUrl)) return false;
        // A copy of a template the page was given would run it once more.
        const std::string& core = m_written.ParsedCore(i);
        for (size_t j = 0; j < m_base.size(); ++j)
            if (m_base.ParsedCore(j) == core) return false;
        return true;
    }

    void Decide() {
        m_applied.assign(m_written.size(), false);
        m_text.assign(m_written.size(), std::wstring());
        size_t used = OriginShareKept();
        auto withinShare = [&](size_t length) {
            if (!m_write.isolated) return true;
            if (used + length > kPageWriteAllowance) return false;
            used += length;
            return true;
        };
        for (size_t i = 0; i < m_written.size(); ++i) {
            const int j = m_written[i].match;
            bool applied = false;
            switch (m_change[i]) {
                case Change::kSame:
                    applied = true;
                    break;
                case Change::kRunState: {
                    const int k = m_baseInCurrent[static_cast<size_t>(j)];
                    // The stamp stays the one the store holds for it: the page's copy has none, or
                    // one it may have made up. (Most entries have none either way.)
                    const std::wstring_view stored = k != kNone ? m_current[static_cast<size_t>(k)].text
                                                                : m_base[static_cast<size_t>(j)].text;
                    if (m_stampsAnywhere && (HasStamp(stored) || HasStamp(m_written[i].text))) {
                        const std::wstring carried = k != kNone ? m_current.StampOfText(static_cast<size_t>(k))
                                                                : m_base.StampOfText(static_cast<size_t>(j));
                        std::wstring text = Stamped(m_written[i].text, carried);
                        if (text != m_written[i].text) m_text[i] = std::move(text);
                    }
                    if (!m_write.isolated) {
                        applied = true;
                        break;
                    }
                    const json* given = m_base.Value(static_cast<size_t>(j));
                    const json* value = m_written.Value(i);
                    applied = given && value && PageOwnsEntry(*given, m_write.pageUrl) && MovesTowardDone(*given, *value);
                    // What the page's origin added counts against its share in every version.
                    const json* current = k != kNone ? m_current.Value(static_cast<size_t>(k)) : nullptr;
                    const std::wstring_view result = m_text[i].empty() ? m_written[i].text : std::wstring_view(m_text[i]);
                    if (applied && current && Utf8ToWide(StampOf(*current).origin) == m_write.stamp.origin)
                        applied = withinShare(result.size());
                    break;
                }
                case Change::kRecordUpdate: {
                    // Who submitted it is the store's word, not the page's copy of it.
                    const int k = m_baseInCurrent[static_cast<size_t>(j)];
                    const json* given = k != kNone ? m_current.Value(static_cast<size_t>(k)) : nullptr;
                    applied = given && MaySettle(*given) && (!m_write.isolated || PageOwns(m_written, i));
                    if (applied) {
                        m_text[i] = Stamped(m_written[i].text, m_stamp);
                        applied = withinShare(m_text[i].size());
                    }
                    break;
                }
                case Change::kAdded:
                    applied = MayAdd(i);
                    if (applied && IsObjectText(m_written[i].text)) {
                        m_text[i] = Stamped(m_written[i].text, m_stamp);
                        applied = withinShare(m_text[i].size());
                    }
                    break;
            }
            m_applied[i] = applied;
            if (!applied) ++m_leftOut;
        }
        // What the page read and left out of its write: removed, where it may remove it.
        m_removes.assign(m_base.size(), false);
        bool removalRefused = false;
        for (size_t j = 0; j < m_base.size(); ++j) {
            if (m_base[j].match != kNone) continue;
            m_removes[j] = !m_write.isolated || PageOwns(m_base, j);
            removalRefused = removalRefused || !m_removes[j];
        }
        m_asWritten = !removalRefused && m_leftOut == 0;
    }

    // ---- the store's new text ----

    // Nobody wrote since the page read: the page's text, with the stamps of what it added or changed.
    std::wstring AsWritten() {
        std::wstring out;
        out.reserve(m_write.written.size() + 64);
        size_t at = 0;
        for (size_t i = 0; i < m_written.size(); ++i) {
            if (m_text[i].empty()) continue;
            const size_t start = static_cast<size_t>(m_written[i].text.data() - m_write.written.data());
            out.append(m_write.written.substr(at, start - at));
            out += m_text[i];
            at = start + m_written[i].text.size();
        }
        out.append(m_write.written.substr(at));
        return out;
    }

    // The text a written entry the page changed or added takes (empty: not applied).
    std::wstring_view WrittenText(size_t i) const {
        if (!m_applied[i]) return std::wstring_view();
        return m_text[i].empty() ? m_written[i].text : std::wstring_view(m_text[i]);
    }

    std::wstring Rebuilt() {
        // Where each of the page's new entries goes: after the entry that comes before it in the
        // page's text, as the store holds that one now; before everything of the page's, where
        // none does.
        std::vector<std::vector<size_t>> after(m_current.size());
        std::vector<size_t> head;
        int anchor = kNone;
        std::vector<int> writtenOf(m_base.size(), kNone);
        for (size_t i = 0; i < m_written.size(); ++i) {
            const int j = m_written[i].match;
            if (j != kNone) {
                writtenOf[j] = static_cast<int>(i);
                if (m_baseInCurrent[j] != kNone) anchor = m_baseInCurrent[j];
                continue;
            }
            if (!m_applied[i]) continue;
            (anchor == kNone ? head : after[anchor]).push_back(i);
        }
        std::vector<int> baseOf(m_current.size(), kNone);
        int firstOfPage = kNone;
        for (size_t j = 0; j < m_base.size(); ++j)
            if (m_baseInCurrent[j] != kNone) {
                baseOf[m_baseInCurrent[j]] = static_cast<int>(j);
                if (firstOfPage == kNone || m_baseInCurrent[j] < firstOfPage) firstOfPage = m_baseInCurrent[j];
            }

        std::wstring out = L"[";
        // Reserved once: a text of this size grown step by step is copied each time it grows.
        out.reserve(std::max(m_write.written.size(), m_current.TextSize()) + m_write.written.size() / 8 + 64);
        auto emit = [&](std::wstring_view text) {
            if (out.size() > 1) out += L',';
            out.append(text.data(), text.size());
        };
        auto emitAdded = [&](const std::vector<size_t>& list) {
            for (size_t i : list) emit(WrittenText(i));
        };
        for (size_t k = 0; k < m_current.size(); ++k) {
            if (static_cast<int>(k) == firstOfPage) emitAdded(head);
            const Entry& stored = m_current[k];
            const int j = baseOf[k];
            if (j == kNone) {
                emit(stored.text);   // someone else's, or nothing the page read
            } else if (writtenOf[j] == kNone) {
                // Removed by the page: a template that another writer only counted on is gone
                // with it; anything else someone changed since stays.
                const bool sameEntry = !m_currentVariant[k] || m_base[j].text.find(L"\"elements\"") != std::wstring_view::npos;
                if (!(m_removes[j] && sameEntry)) emit(stored.text);
            } else {
                const size_t i = static_cast<size_t>(writtenOf[j]);
                switch (m_change[i]) {
                    case Change::kSame:
                        emit(stored.text);
                        break;
                    case Change::kRunState:
                        // Run state moved away from done is not the page's to write: its template
                        // goes, as if the page had dropped it.
                        if (m_applied[i]) emit(WrittenText(i));
                        else if (!m_write.isolated) emit(stored.text);
                        break;
                    default:
                        // An outcome another tab settled meanwhile stays as that tab settled it.
                        emit(m_applied[i] && !m_currentVariant[k] ? WrittenText(i) : stored.text);
                        break;
                }
            }
            emitAdded(after[k]);
        }
        if (firstOfPage == kNone) emitAdded(head);
        out += L']';
        return out;
    }

    const PageWrite& m_write;
    const ParsedTemplates* m_parsedCurrent;
    const std::wstring m_stamp;
    Entries m_written, m_base, m_current;
    std::vector<Change> m_change;
    std::vector<int> m_baseInCurrent;
    std::vector<bool> m_currentVariant;
    std::vector<bool> m_applied, m_removes;
    std::vector<std::wstring> m_text;   // stamped texts of what the page added or changed
    size_t m_leftOut = 0;
    bool m_asWritten = true;
    bool m_stampsAnywhere = true;   // some entry of the write or the store carries a stamp
};

}  // namespace

std::wstring StampText(const WriterStamp& stamp) {
    return L"{\"origin\":" + JsonStringLiteral(stamp.origin) + L",\"at\":" + std::to_wstring(stamp.at) +
           L",\"tab\":" + JsonStringLiteral(stamp.tab) + L",\"page\":" + std::to_wstring(stamp.page) + L"}";
}

MergeVerdict MergePageWrite(const PageWrite& write, std::wstring_view current, const ParsedTemplates* parsedCurrent,
                            MergeResult* result) {
    Merge merge(write, parsedCurrent);
    return merge.Run(current, result);
}
