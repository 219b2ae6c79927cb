// IAuthenticate's answer to the browser's HTTP Basic authentication requests: from the
// credentials the content script handed over (or, under template isolation, from the store's own
// templates), for the one top-level navigation under way.
#pragma once

#include "extension/navigation_tracker.h"
#include "extension/store_access.h"

#include <windows.h>
#include <exdisp.h>

// The user name and password of the last record whose URL pattern matches the navigation's URL,
// as new CoTaskMemAlloc copies the browser frees (null where a copy cannot be made); both left as
// the caller passed them when none matches. *phwnd is null when answered, else the browser's
// window, so that the browser's own prompt has its owner. Always S_OK.
HRESULT AnswerBasicChallenge(const NavigationTracker& navigations, StoreAccess& store, IWebBrowser2* browser,
                             HWND* phwnd, LPWSTR* pszUsername, LPWSTR* pszPassword) noexcept;
