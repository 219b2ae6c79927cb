// A page's write to the template store, applied as a change to what that page read.
//
// Many tabs, the store tool and the agent write one store. A page's write is its own copy of
// what it read, with entries dropped, changed or added since: taken whole, it would undo every
// write made by anyone else in between. So the write is compared with what the page last read
// (or wrote), and only that change is applied to the store as it is now, under the store's
// lock: what the page removed is removed, what it changed is changed, what it added is added,
// and every entry someone else added or changed meanwhile stays as they wrote it.
//
// Entries are matched by their text; a template whose only difference is its run state (the
// fields the content script counts retries and steps in) is the same template, and an outcome
// record is the same record while its attempt and site are. Where the page changed or removed
// an entry that someone else changed since:
//   - a template another writer changed only in its run state is still the page's to change or
//     remove (both ran the same sign-on; the page that dropped it ran it to its end);
//   - any other change of another writer's stays: the page's change or removal of that entry is
//     not applied (an outcome another tab settled first stays settled, a template the store tool
//     replaced stays replaced);
//   - an entry another writer removed stays removed: the page's copy does not bring it back.
// When nobody wrote in between, the store afterwards holds the page's text as it wrote it, byte
// for byte, but for the stamps on what it added or changed.
//
// Every entry a page adds or changes carries a stamp that the extension writes, not the page:
//   "stamp": {"origin": "https://host", "at": <seconds since 1970 UTC>, "tab": "<id>", "page": <n>}
// whatever the page put in "stamp" is replaced. It says which origin wrote the entry, when, from
// which browser window or tab, and which page of that tab it was.
//
// The same merge serves both modes. Under template isolation a page also reaches only its own
// templates: it can add or change only entries whose url its own origin holds, its removals
// reach only those, the run state of a template moves only toward done, and what its origin has
// added (across all its writes, by every page of the origin) takes at most kPageWriteAllowance
// code units of the store, and it cannot add the store tool's recorder or a launched template. In
// both modes a page settles an outcome record only from the tab and origin that submitted it (a
// password change's only there or on the next page).
#pragma once

#include "templates/template_text.h"

#include <string>
#include <string_view>

// The share of the store one origin's pages may add under isolation, in UTF-16 code units
// (about 3% of the store).
constexpr size_t kPageWriteAllowance = 16384;

// Who writes: the extension object's word on the page, never the page's.
struct WriterStamp {
    std::wstring origin;   // the page's origin as OriginText writes it; empty for the object without a page
    long long at = 0;      // seconds since 1970 UTC
    std::wstring tab;      // the extension object's id: one browser window or tab
    long long page = 0;    // the page's place in its tab (1 for the first)
};

struct PageWrite {
    std::wstring_view base;      // what the page last read or wrote (its view of the store)
    std::wstring_view written;   // what it writes now
    WriterStamp stamp;
    bool isolated = false;       // under template isolation, not a trusted portal's page
    std::wstring pageUrl;        // the page's address, for isolation's rule of its own templates
};

enum class MergeVerdict {
    kMerged,
    kWrittenNotAnArray,   // the page wrote no JSON array: nothing changes
    kWrittenTooDeep,      // nested deeper than kMaxJsonDepth: nothing changes
    kStoreNotAnArray,     // the store holds no template array: nothing changes
};

struct MergeResult {
    bool unchanged = false;  // the store takes the page's text as written (then `text` is left empty)
    std::wstring text;       // else the store's text after the write
    size_t leftOut = 0;      // entries of the write not applied (not the page's, over its share, refused)

    std::wstring_view Text(std::wstring_view written) const { return unchanged ? written : std::wstring_view(text); }
};

// Applies `write` to the store text `current`. `parsedCurrent` is `current` parsed (for the
// isolation rules and the share of the store; may be null when not isolated).
MergeVerdict MergePageWrite(const PageWrite& write, std::wstring_view current, const ParsedTemplates* parsedCurrent,
                            MergeResult* result);

// The text of a stamp, as it goes into an entry.
std::wstring StampText(const WriterStamp& stamp);
