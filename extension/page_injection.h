// Page injection's helpers: the content script from the module's resources, and what the
// browser's current document is. (The page timer's callback itself: CVelnorIEExt::OnUpdate.)
#pragma once

#include "common/unique_owner.h"

#include <windows.h>

#include <string>

constexpr WORD kContentScriptId = 201;
extern const wchar_t kContentScriptType[];   // "SCRIPT"

// Appends the resource's bytes to `text` (up to its size or its first zero byte). False, with
// `text` left empty, when the resource is missing or empty.
bool LoadScriptResource(HMODULE module, const wchar_t* type, WORD id, std::string& text);

// The content script as execScript takes it: the same bytes widened with the thread's ANSI code
// page straight from the module's image into the one string the call needs. Empty when the
// resource is missing (an empty script is then run); null when memory runs out.
unique_bstr LoadScriptText(HMODULE module);

// Reads the title and URL of the browser's current document; false (both unchanged) when it
// has no HTML document. Throws std::bad_alloc when memory runs out.
struct IWebBrowser2;
bool ReadDocumentInfo(IWebBrowser2* browser, std::wstring& title, std::wstring& url);
