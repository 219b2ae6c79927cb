// Page injection: what each firing of a page timer does to the browser's top-level page (probe
// its script engine, publish the page's binding as window.VelnorIEExt, run the content script),
// and its helpers: the content script from the module's resources, and what the browser's
// current document is. (The page timer's callback itself: CVelnorIEExt::OnUpdate.)
#pragma once

#include "common/unique_owner.h"

#include <windows.h>
#include <exdisp.h>

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
bool ReadDocumentInfo(IWebBrowser2* browser, std::wstring& title, std::wstring& url);

// One attempt of a page timer: publishes `value` as window property `name` of the browser's
// top-level page (never a frame's) and runs the content script there. True when the page ran the
// script and gave a result; false also when memory ran out on the way (the next period tries
// again).
bool AddExternalObject(IWebBrowser2* browser, const wchar_t* name, VARIANT* value) noexcept;
