#include "extension/navigation_tracker.h"

#include "logging/log_writer.h"

#include <algorithm>

void NavigationTracker::Began(IDispatch* frame, bool topLevel, const std::wstring& url) noexcept {
    if (!topLevel) {
        // A page starts frame navigations wherever it likes; a challenge during one may be the
        // frame's, so it never selects credentials and none are answered until it ends.
        try {
            ComPtr<IUnknown> identity;
            if (frame && SUCCEEDED(frame->QueryInterface(IID_IUnknown, identity.put_void()))) {
                FrameEnded(frame);
                m_framesNavigating.push_back(std::move(identity));
            } else {
                // A frame that cannot be told apart: count it as one that never ends (until
                // the next top-level navigation completes).
                m_framesNavigating.emplace_back();
            }
        } catch (...) {
            ++m_topNavigationsPending;   // out of memory: make the state ambiguous, so nothing is answered
        }
        return;
    }
    // One the browser never reported as ended and that began longer ago than any challenge is
    // answered can draw none any more: it no longer makes the new one ambiguous.
    if (m_topNavigationsPending > 0 && GetTickCount64() - m_navigateStarted > kBasicAuthWindowMs) EndTopNavigations();
    ++m_topNavigationsPending;
    m_navigateStarted = GetTickCount64();
    // Emptied first: should the copy fail, a Basic challenge from the new site must not be
    // answered with the previous site's credentials.
    m_navigateUrl.clear();
    try {
        m_navigateUrl = url;
    } catch (...) {
    }
}

void NavigationTracker::Completed(IDispatch* frame, bool topLevel) noexcept {
    if (topLevel) {
        // The browser shows the new document: navigations superseded by it have ended, and the
        // frames of the document it replaced are gone.
        EndTopNavigations();
        m_framesNavigating.clear();
    } else {
        FrameEnded(frame);
    }
}

void NavigationTracker::Failed(IDispatch* frame, bool topLevel) noexcept {
    if (topLevel)
        EndTopNavigations();
    else
        FrameEnded(frame);
}

// The top-level document is there: its navigation is over.
void NavigationTracker::DocumentCompleted(bool topLevel) noexcept {
    if (topLevel) EndTopNavigations();
}

// A navigation that ends in a download (a file, not a document) never completes as a
// navigation: from here on a challenge is some other request's, not the one the URL named.
void NavigationTracker::FileDownloadStarts(bool activeDocument) noexcept {
    if (!activeDocument) EndTopNavigations();
}

// The browser has stopped downloading: a navigation that was stopped, answered "204 No Content"
// or turned into a download ends here without NavigateComplete2 or NavigateError. While the
// browser is still busy it is only some earlier download that ended.
void NavigationTracker::DownloadsComplete(bool browserBusy) noexcept {
    if (!browserBusy) EndTopNavigations();
}

void NavigationTracker::FrameEnded(IDispatch* frame) noexcept {
    ComPtr<IUnknown> identity;
    if (!frame || FAILED(frame->QueryInterface(IID_IUnknown, identity.put_void()))) return;
    m_framesNavigating.erase(std::remove_if(m_framesNavigating.begin(), m_framesNavigating.end(),
                                            [&](const ComPtr<IUnknown>& f) { return f.get() == identity.get(); }),
                             m_framesNavigating.end());
}

bool NavigationTracker::ChallengeBelongsToNavigation() const {
    bool belongs = true;
    // The challenge names no URL: it may come from any request of the window. It is taken for
    // the top-level navigation's only while that is the one navigation under way; while a frame
    // navigates, or several top-level navigations are pending, it could be the request of a page
    // that wants another site's password.
    // Nor long after the navigation began: a navigation the browser never reported as ended
    // must not leave the credentials armed for whatever the page requests later.
    const ULONGLONG age = GetTickCount64() - m_navigateStarted;
    if (m_topNavigationsPending == 1 && age > kBasicAuthWindowMs) {
        LogExt(L"CVelnorIEExt::Authenticate() -> declined: the navigation began %d seconds ago",
               static_cast<int>(age / 1000));
        belongs = false;
    }
    if (m_topNavigationsPending != 1 || !m_framesNavigating.empty()) {
        LogExt(L"CVelnorIEExt::Authenticate() -> declined: %d top-level and %d frame navigations pending",
               m_topNavigationsPending, static_cast<int>(m_framesNavigating.size()));
        belongs = false;
    }
    return belongs;
}
