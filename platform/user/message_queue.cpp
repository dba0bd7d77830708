// The thread's message queue: posting, sending, dispatching, the quit
// request, and GetMessageA's order and filters.
//
// GetMessageA looks in Windows' order: posted messages first, then the quit
// request, then windows waiting to be painted. Only when none of those is
// there does it show what was drawn and wait for the display, whose reports
// display_events.cpp turns into messages.
#include <algorithm>

#include "platform/user/window_manager.h"

using platform::user::FindWindowRecord;
using platform::user::GetState;
using platform::user::PumpDisplay;
using platform::user::State;
using platform::user::WindowRecord;

namespace {

// Windows' limit on posted messages per queue; beyond it PostMessage fails
// rather than letting the queue grow without bound.
const std::size_t kMaxPosted = 10000;

// The hwnd filter value that selects messages posted to no window.
const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));

struct Filter {
    HWND hwnd;
    UINT first;
    UINT last;

    bool MatchesWindow(HWND target) const {
        if (hwnd == kThreadMessagesOnly) {
            return target == NULL;
        }
        return hwnd == NULL || target == hwnd;
    }
    bool MatchesMessage(UINT message) const {
        return (first == 0 && last == 0) || (message >= first && message <= last);
    }
    bool Matches(HWND target, UINT message) const {
        return MatchesWindow(target) && MatchesMessage(message);
    }
};

MSG MakeMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg = {};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = platform::user::MessageTime();
    return msg;
}

bool TakePosted(const Filter& filter, MSG* msg) {
    std::deque<MSG>& posted = GetState().posted;
    for (auto it = posted.begin(); it != posted.end(); ++it) {
        if (it->message == WM_QUIT || filter.Matches(it->hwnd, it->message)) {
            *msg = *it;
            posted.erase(it);
            return true;
        }
    }
    return false;
}

bool TakePaint(const Filter& filter, MSG* msg) {
    if (!filter.MatchesMessage(WM_PAINT)) {
        return false;
    }
    for (std::unique_ptr<WindowRecord>& slot : GetState().slots) {
        if (slot != nullptr && !slot->update.empty() && (slot->style & WS_VISIBLE) != 0 &&
            filter.MatchesWindow(slot->hwnd)) {
            *msg = MakeMessage(slot->hwnd, WM_PAINT, 0, 0);
            return true;
        }
    }
    return false;
}

}  // namespace

namespace platform {
namespace user {

void DropPostedMessages(HWND hwnd) {
    std::deque<MSG>& posted = GetState().posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [hwnd](const MSG& msg) { return msg.hwnd == hwnd; }),
                 posted.end());
}

void ResetMessageQueue() {
    State& state = GetState();
    state.posted.clear();
    state.quitPending = false;
    state.quitCode = 0;
}

}  // namespace user
}  // namespace platform

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    if (msg == nullptr || (hwnd != NULL && hwnd != kThreadMessagesOnly && !IsWindow(hwnd))) {
        return -1;
    }
    Filter filter = {hwnd, filterMin, filterMax};
    for (;;) {
        if (!PumpDisplay(false)) {
            return -1;
        }
        if (TakePosted(filter, msg)) {
            return msg->message == WM_QUIT ? FALSE : TRUE;
        }
        State& state = GetState();
        if (state.quitPending) {
            state.quitPending = false;
            *msg = MakeMessage(NULL, WM_QUIT, static_cast<WPARAM>(state.quitCode), 0);
            return FALSE;
        }
        if (TakePaint(filter, msg)) {
            return TRUE;
        }
        platform::user::PresentAllWindows();
        if (!PumpDisplay(true)) {
            return -1;
        }
    }
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd != NULL && FindWindowRecord(hwnd) == nullptr) {
        return FALSE;
    }
    State& state = GetState();
    if (state.posted.size() >= kMaxPosted) {
        return FALSE;
    }
    state.posted.push_back(MakeMessage(hwnd, message, wParam, lParam));
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr) {
        return 0;
    }
    WNDPROC proc = window->proc;
    return proc(hwnd, message, wParam, lParam);
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    // Key presses arrive as WM_CHAR already (display_events.cpp): no
    // WM_KEYDOWN is ever queued, so there is nothing to translate.
    (void)msg;
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (msg == nullptr) {
        return 0;
    }
    WindowRecord* window = FindWindowRecord(msg->hwnd);
    if (window == nullptr) {
        return 0;
    }
    WNDPROC proc = window->proc;
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void WINAPI PostQuitMessage(int exitCode) {
    State& state = GetState();
    state.quitPending = true;
    state.quitCode = exitCode;
}
