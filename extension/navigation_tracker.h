// What Basic authentication needs to know of the browser's navigations. IAuthenticate carries no
// URL, so a challenge is answered only while it can belong to one top-level navigation alone: the
// tracker keeps the URL of the last top-level BeforeNavigate2, counts the top-level navigations
// begun since the browser last showed an end of one, and holds the frames (by COM identity) whose
// navigation has begun and not ended.
#pragma once

#include "common/com_ptr.h"

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

// How long after a top-level navigation began its Basic challenge is answered: a server answers
// 401 with its first response, and a slow intranet server within a minute.
constexpr ULONGLONG kBasicAuthWindowMs = 60000;

class NavigationTracker {
public:
    // The browser's events as far as they begin or end navigations. `topLevel`: the event's
    // frame object is the browser itself. None of them fails: when memory runs out the state is
    // left ambiguous, so that no challenge is answered.
    void Began(IDispatch* frame, bool topLevel, const std::wstring& url) noexcept;   // BeforeNavigate2
    void Completed(IDispatch* frame, bool topLevel) noexcept;                        // NavigateComplete2
    void Failed(IDispatch* frame, bool topLevel) noexcept;                           // NavigateError
    void DocumentCompleted(bool topLevel) noexcept;                                  // DocumentComplete
    void FileDownloadStarts(bool activeDocument) noexcept;                           // FileDownload
    void DownloadsComplete(bool browserBusy) noexcept;                               // DownloadComplete

    // Whether a challenge that arrives now may be taken for the navigation to Url(): the one
    // navigation under way, begun within kBasicAuthWindowMs. Traces why not.
    bool ChallengeBelongsToNavigation() const;

    const std::wstring& Url() const { return m_navigateUrl; }
    int TopNavigationsPending() const { return m_topNavigationsPending; }
    // As if the top-level navigation under way had begun `milliseconds` earlier.
    void Backdate(ULONGLONG milliseconds) { m_navigateStarted -= milliseconds; }

private:
    void FrameEnded(IDispatch* frame) noexcept;
    // No navigation can draw a challenge any more: the next one arms Basic authentication anew.
    void EndTopNavigations() noexcept { m_topNavigationsPending = 0; }

    std::wstring m_navigateUrl;
    int m_topNavigationsPending = 0;
    ULONGLONG m_navigateStarted = 0;   // GetTickCount64 at the last top-level BeforeNavigate2
    std::vector<ComPtr<IUnknown>> m_framesNavigating;
};
