// The thread's message queue: posting, sending, dispatching, the quit
// request, and GetMessageA, which also turns what the display reports into
// messages.
//
// GetMessageA looks in Windows' order: posted messages first, then the quit
// request, then windows waiting to be painted. Only when none of those is
// there does it show what was drawn and wait for the display.
#include <algorithm>
#include <iterator>

#include "platform/user/window_manager.h"

using platform::BackendEvent;
using platform::WaitResult;
using platform::user::FindWindowRecord;
using platform::user::GetState;
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

// A move or resize reported by the display: the client pixels follow the
// new size, and the procedure hears of it through WM_WINDOWPOSCHANGED.
void ApplyConfigure(HWND hwnd, const RECT& rect) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr || platform::user::RectEmpty(rect)) {
        return;
    }
    const RECT old = window->rect;
    bool moved = rect.left != old.left || rect.top != old.top;
    bool sized = platform::user::RectWidth(rect) != platform::user::RectWidth(old) ||
                 platform::user::RectHeight(rect) != platform::user::RectHeight(old);
    if (!moved && !sized) {
        return;
    }
    window->rect = rect;
    if (sized) {
        platform::user::ResizeWindowSurface(window, platform::user::RectWidth(rect),
                                            platform::user::RectHeight(rect));
    }
    WINDOWPOS pos = {};
    pos.hwnd = hwnd;
    pos.hwndInsertAfter = NULL;
    pos.x = rect.left;
    pos.y = rect.top;
    pos.cx = platform::user::RectWidth(rect);
    pos.cy = platform::user::RectHeight(rect);
    pos.flags = SWP_NOZORDER | SWP_NOACTIVATE | (moved ? 0 : SWP_NOMOVE) | (sized ? 0 : SWP_NOSIZE);
    SendMessageA(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
}

void HandleEvent(const BackendEvent& event) {
    HWND hwnd = reinterpret_cast<HWND>(event.window);
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr) {
        return;
    }
    switch (event.type) {
        case BackendEvent::kClose:
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
            break;
        case BackendEvent::kChars: {
            // What TranslateMessage would have posted for the key press: one
            // WM_CHAR per character, in the window's code page.
            const int count =
                std::clamp(event.charCount, 0, static_cast<int>(std::size(event.chars)));
            for (int i = 0; i < count; ++i) {
                PostMessageA(hwnd, WM_CHAR, platform::user::AnsiFromCodePoint(event.chars[i]), 1);
            }
            break;
        }
        case BackendEvent::kExpose:
            platform::user::AddToUpdate(window, event.rect, true);
            break;
        case BackendEvent::kConfigure:
            ApplyConfigure(hwnd, event.rect);
            break;
        case BackendEvent::kDestroyed:
            // Someone else removed the native window: the window is gone.
            window->nativeGone = true;
            GetState().windowTakenAway = true;
            DestroyWindow(hwnd);
            break;
    }
}

// Display events handled in one go at most, so that a display that never
// stops sending cannot keep the queue from being read.
const int kEventsPerPump = 256;

// Handles display events; with `wait`, blocks until at least one came.
// False when the display is gone.
bool PumpDisplay(bool wait) {
    for (int handled = 0; handled < kEventsPerPump; ++handled) {
        State& state = GetState();
        if (state.backend == nullptr) {
            // Without a display nothing could ever arrive.
            return !wait;
        }
        BackendEvent event;
        WaitResult result = state.backend->NextEvent(&event, wait);
        if (result == WaitResult::kBroken) {
            return false;
        }
        if (result == WaitResult::kNoEvent) {
            return true;
        }
        HandleEvent(event);
        wait = false;
    }
    return true;
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

unsigned char AnsiFromCodePoint(char32_t codePoint) {
    // Windows-1252's bytes 0x80 to 0x9F, by code point; 0 where the byte is
    // unassigned and stands for the C1 control of the same value.
    static const char16_t kHighBytes[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<unsigned char>(codePoint);
    }
    for (int i = 0; i < 32; ++i) {
        const char32_t mapped =
            kHighBytes[i] != 0 ? kHighBytes[i] : static_cast<char32_t>(0x80 + i);
        if (codePoint == mapped) {
            return static_cast<unsigned char>(0x80 + i);
        }
    }
    return '?';
}

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
    // Key presses arrive as WM_CHAR already (see HandleEvent): no WM_KEYDOWN
    // is ever queued, so there is nothing to translate.
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
