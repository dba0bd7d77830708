// Test control of the headless display: a virtual screen of a chosen size,
// windows that exist only in memory, what each window shows, and events
// injected as a real display would deliver them.
//
// What a window shows is only what the window manager presented to the
// display; parts it never presented keep kNeverPresented.
#ifndef OSTREVANE_PLATFORM_BACKENDS_HEADLESS_HEADLESS_CONTROL_H
#define OSTREVANE_PLATFORM_BACKENDS_HEADLESS_HEADLESS_CONTROL_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/backends/backend.h"

namespace platform {
namespace headless {

// The colour of display pixels the window manager never presented.
const std::uint32_t kNeverPresented = 0x00FF00FF;

// Forgets every window, class and message of the window manager, then
// installs a fresh headless display with a screen of the given size.
void Start(int screenWidth, int screenHeight);

// Forgets everything again and leaves the window manager without a display.
void Stop();

// The headless display itself, for RunWinMain.
Backend* GetBackend();

// Changes the screen size, as a change of resolution would; windows stay.
void SetScreenSize(int width, int height);

struct WindowView {
    std::string className;
    std::string title;
    RECT rect = {0, 0, 0, 0};  // the client area, screen coordinates
    WindowShow show = WindowShow::kHidden;
    // What the display shows of the client area, 0x00RRGGBB rows top to
    // bottom, RectWidth(rect) per row.
    std::vector<std::uint32_t> pixels;
    // Every area presented since the window was made, in order.
    std::vector<RECT> presented;
    int Width() const { return rect.right - rect.left; }
    int Height() const { return rect.bottom - rect.top; }
    std::uint32_t Pixel(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * Width() + x];
    }
};

// False if the display has no window for `hwnd`.
bool GetWindowView(HWND hwnd, WindowView* view);

// The windows on the display, oldest first.
std::vector<HWND> Windows();

// Events, delivered the next time the message loop looks. Each returns false
// if the display has no window for `hwnd`.
bool InjectClose(HWND hwnd);
bool InjectChars(HWND hwnd, const std::u32string& chars);
// The display moves and/or resizes the window: `rect` is its new client
// area in screen coordinates. What the display shows keeps its top-left
// part, like an X server with north-west bit gravity.
bool InjectConfigure(HWND hwnd, const RECT& rect);
bool InjectExpose(HWND hwnd, const RECT& area);
// The native window disappears, as if another program destroyed it.
bool InjectDestroyed(HWND hwnd);

// Called each time the message loop would wait for the display. It may
// inject events; if none is queued when it returns, no event could ever
// come and the display reports itself broken (GetMessageA returns -1)
// instead of blocking forever.
void SetIdleHandler(std::function<void()> handler);

}  // namespace headless
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_HEADLESS_HEADLESS_CONTROL_H
