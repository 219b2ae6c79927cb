// The page that script reaches the extension object from: what a page's binding remembers of
// the document it was published into, and what the object without a page keeps of its own.
#pragma once

#include "common/com_ptr.h"

#include <unknwn.h>

#include <string>

struct PageContext {
    ComPtr<IUnknown> document;   // the document's COM identity (a reference, so that it cannot be reused)
    std::wstring url;            // its address when the binding was made
    std::wstring origin;         // its origin, stamped on what it writes (empty: none)
    long long ordinal = 0;       // its place among the pages of its tab (1 for the first)
    std::wstring known;          // what it last read or wrote of Templates: its writes are changes to this
};
