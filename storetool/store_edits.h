// Changes the store tool makes to what the store holds beside the templates already there: a
// launched template or the recorder record added, one taken out. Every other template stays
// byte for byte, and its passwords are never copied out of the store; records past their time
// are left out on the way (store_records.h).
#pragma once

#include "common/secret_text.h"
#include "templates/template_store.h"

#include <functional>
#include <string>
#include <string_view>

// A name for what this process adds to the store (a launch, a recorder) that no page can guess:
// 128 bits of the system's random number generator (BCryptGenRandom), as hex. Empty when the
// generator fails.
std::wstring NewStoreId();

// Writes the store text anew under the store lock: the entries for which `leaveOut` is true go,
// `add` (when given) is appended. False with *failure saying why when nothing was written.
bool RewriteStore(const TemplateStore& store, const std::function<bool(std::wstring_view entry)>& leaveOut,
                  const SecretText* add, std::string* failure);

// Takes out every entry whose text holds `id` as a JSON string.
bool RemoveFromStore(const TemplateStore& store, const std::wstring& id);
