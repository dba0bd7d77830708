// What the display reports, turned into the window manager's messages, and
// what its loss means for the program.
//
// Events: a move or resize becomes WM_WINDOWPOSCHANGED with the client
// pixels following the new size; an exposure invalidates; typed characters
// become WM_CHAR in the window's code page (code_page.cpp); the close button
// WM_CLOSE; a native window that someone else removed destroys its window.
//
// Loss: a display that breaks makes GetMessageA return -1, and a program
// that then quits has failed: it ends with 1 whatever WinMain returned. The
// back end prints the one line that says so (failure_line.h) when it sees
// the loss. A display that is going away can take windows with it before its
// connection closes, so after a window was taken away the display gets the
// grace period it asks for to show the loss.
#include <time.h>

#include <algorithm>
#include <iterator>

#include "platform/user/window_manager.h"

namespace platform {
namespace user {
namespace {

// A move or resize reported by the display: the client pixels follow the
// new size, and the procedure hears of it through WM_WINDOWPOSCHANGED.
void ApplyConfigure(HWND hwnd, const RECT& rect) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr || RectEmpty(rect)) {
        return;
    }
    const RECT old = window->rect;
    bool moved = rect.left != old.left || rect.top != old.top;
    bool sized = RectWidth(rect) != RectWidth(old) || RectHeight(rect) != RectHeight(old);
    if (!moved && !sized) {
        return;
    }
    window->rect = rect;
    if (sized) {
        ResizeWindowSurface(window, RectWidth(rect), RectHeight(rect));
    }
    WINDOWPOS pos = {};
    pos.hwnd = hwnd;
    pos.hwndInsertAfter = NULL;
    pos.x = rect.left;
    pos.y = rect.top;
    pos.cx = RectWidth(rect);
    pos.cy = RectHeight(rect);
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
                PostMessageA(hwnd, WM_CHAR, AnsiFromCodePoint(event.chars[i]), 1);
            }
            break;
        }
        case BackendEvent::kExpose:
            AddToUpdate(window, event.rect, true);
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

// How often to look for a display's loss while it may still show.
const int kLossPollMilliseconds = 20;

// True if the display is gone. After a window was taken away the display
// gets the time it says to show its loss. Events still queued are read and
// dropped.
bool DisplayLost(Backend* backend, bool windowTakenAway) {
    const int grace = windowTakenAway ? backend->LossGraceMilliseconds() : 0;
    int waited = 0;
    for (;;) {
        for (int drained = 0; drained < 1024; ++drained) {
            BackendEvent event;
            WaitResult result = backend->NextEvent(&event, false);
            if (result == WaitResult::kBroken) {
                return true;
            }
            if (result == WaitResult::kNoEvent) {
                break;
            }
        }
        if (waited >= grace) {
            return false;
        }
        timespec pause = {0, kLossPollMilliseconds * 1000000L};
        nanosleep(&pause, nullptr);
        waited += kLossPollMilliseconds;
    }
}

}  // namespace

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

void StartRun() { GetState().windowTakenAway = false; }

int FinishRun(int result, Backend* backend) {
    if (result != 1 && backend != nullptr && DisplayLost(backend, GetState().windowTakenAway)) {
        return 1;
    }
    return result;
}

}  // namespace user
}  // namespace platform
