// The whole program, WinMain included, on the headless display of a screen
// of arbitrary (bounded) size, fed arbitrary sequences of what a display and
// other code can do to its window: close requests, typed characters, moves
// and resizes, exposures, the native window vanishing, resolution changes,
// and calls of the window manager's API (showing, invalidating, posted and
// sent messages, drawing through GetDC).
//
// Each time the message loop would wait, the idle handler takes the next few
// steps from the input; when the input is used up it closes the window.
// WinMain must then return 0, having freed its canvas. While nothing has
// drawn on the window behind the program's back, what the display shows
// must be the canvas at the top left of the client area and the class
// background (white) beyond it.
//
// Messages only the system sends (creation, destruction, quit) are not
// posted: the program, like any Win32 program, relies on their order.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/canvas.h"
#include "platform/backends/headless/headless_control.h"
#include "platform/gdi/objects.h"
#include "tests/fuzz/fuzz_input.h"

namespace gdi = platform::gdi;
namespace headless = platform::headless;

namespace {

// The screen's area is kept to this many pixels, so that the canvas and the
// window (three quarters of the screen each way) stay small.
const std::int64_t kMaxScreenPixels = std::int64_t(1) << 18;
// Steps taken each time the loop goes idle, at most.
const int kMaxStepsPerIdle = 4;
const std::uint32_t kWhite = 0x00FFFFFF;
// A client area larger than the window manager keeps pixels for (a window
// maximised on a wider screen) shows nothing of the program beyond it.
using platform::kMaxSurfaceSide;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "window_fuzzer: %s\n", what);
    std::abort();
}

int ScreenSide(fuzz::Input& in) {
    static const int kCommon[] = {640, 480, 800, 600, 1024, 768, 1023, 767, 333, 1001};
    switch (in.Byte() % 6) {
        case 0:
            return in.Bool() ? 0 : 1;
        case 1:
            return 1 + in.Byte() % 16;
        case 2:
            return kCommon[in.Index(sizeof(kCommon) / sizeof(kCommon[0]))];
        case 3:
            return 1 + in.Take<std::uint16_t>() % 2048;
        default:
            return 1 + static_cast<int>(in.Take<std::uint32_t>() % kMaxScreenPixels);
    }
}

void PickScreen(fuzz::Input& in, int* width, int* height) {
    *width = ScreenSide(in);
    *height = ScreenSide(in);
    if (std::int64_t(*width) * *height > kMaxScreenPixels) {
        *height = static_cast<int>(std::max<std::int64_t>(1, kMaxScreenPixels / *width));
    }
}

struct Run {
    explicit Run(fuzz::Input* input) : in(*input) {}
    fuzz::Input& in;
    int idleCalls = 0;
    bool closing = false;        // something was done that must end the program
    bool drewBehind = false;     // something drew on the window outside WM_PAINT
    bool screenChanged = false;  // the program's screen metrics no longer fit its canvas
};

// Any rectangle at all, for areas that are only ever clipped.
RECT AnyRect(fuzz::Input& in) { return RECT{in.Int(), in.Int(), in.Int(), in.Int()}; }

// A client area a display could report: X coordinates are 16-bit.
RECT DisplayRect(fuzz::Input& in) {
    const int x = in.Take<std::int16_t>();
    const int y = in.Take<std::int16_t>();
    int width = 1 + in.Take<std::uint16_t>() % 2048;
    int height = 1 + in.Take<std::uint16_t>() % 2048;
    if (std::int64_t(width) * height > kMaxScreenPixels) {
        height = static_cast<int>(kMaxScreenPixels / width);
    }
    return RECT{x, y, x + width, y + height};
}

// Messages another part of a program may post or send to a window.
UINT PickMessage(fuzz::Input& in) {
    static const UINT kMessages[] = {
        WM_NULL,    WM_MOVE,  WM_SIZE,       WM_PAINT,      WM_CHAR,
        WM_KEYDOWN, WM_KEYUP, WM_SHOWWINDOW, WM_ERASEBKGND, WM_WINDOWPOSCHANGING,
        WM_USER};
    const UINT message = in.Byte() % 4 == 0
                             ? WM_USER + in.Take<std::uint16_t>()
                             : kMessages[in.Index(sizeof(kMessages) / sizeof(kMessages[0]))];
    return message;
}

void DrawThroughGetDc(fuzz::Input& in, HWND hwnd) {
    // Arguments are taken one statement each: the order in which a call's
    // arguments are evaluated differs between compilers, and an input must
    // mean the same in the fuzzer (clang) and in its replay (any compiler).
    HDC hdc = GetDC(hwnd);
    static const DWORD kRops[] = {BLACKNESS, WHITENESS, DSTINVERT, PATCOPY};
    const int x = in.Int(), y = in.Int(), width = in.Int(), height = in.Int();
    PatBlt(hdc, x, y, width, height, kRops[in.Index(4)]);
    if (in.Bool()) {
        const int x0 = in.Int(), y0 = in.Int(), x1 = in.Int(), y1 = in.Int();
        MoveToEx(hdc, x0, y0, nullptr);
        LineTo(hdc, x1, y1);
    }
    ReleaseDC(hwnd, hdc);
}

// With OSTREVANE_FUZZ_TRACE set, each step is told on stderr, to read a
// finding's input as the sequence it stands for.
void Trace(const char* format, ...) {
    static const bool tracing = std::getenv("OSTREVANE_FUZZ_TRACE") != nullptr;
    if (tracing) {
        std::va_list args;
        va_start(args, format);
        std::vfprintf(stderr, format, args);
        va_end(args);
        std::fputc('\n', stderr);
    }
}

void Step(Run& run, HWND hwnd) {
    fuzz::Input& in = run.in;
    switch (in.Byte() % 16) {
        case 0:
            if (in.Byte() % 4 == 0) {  // closing ends the run: make it rarer
                Trace("close");
                headless::InjectClose(hwnd);
                run.closing = true;
            }
            break;
        case 1: {
            std::u32string chars;
            const std::size_t count = in.Byte() % 24;
            for (std::size_t i = 0; i < count; ++i) {
                // Every plane's characters, and values past the last one.
                chars += static_cast<char32_t>(in.Byte() << (in.Byte() % 24));
            }
            Trace("chars (%zu)", chars.size());
            headless::InjectChars(hwnd, chars);
            break;
        }
        case 2:
        case 3: {
            const RECT rect = DisplayRect(in);
            Trace("configure %ld %ld %ld %ld", long(rect.left), long(rect.top), long(rect.right),
                  long(rect.bottom));
            headless::InjectConfigure(hwnd, rect);
            break;
        }
        case 4: {
            const RECT rect = AnyRect(in);
            Trace("expose %ld %ld %ld %ld", long(rect.left), long(rect.top), long(rect.right),
                  long(rect.bottom));
            headless::InjectExpose(hwnd, rect);
            break;
        }
        case 5:
            if (in.Byte() % 4 == 0) {
                Trace("native window destroyed");
                headless::InjectDestroyed(hwnd);
                run.closing = true;
            }
            break;
        case 6: {
            int width = 0;
            int height = 0;
            PickScreen(in, &width, &height);
            Trace("screen %dx%d", width, height);
            headless::SetScreenSize(width, height);
            run.screenChanged = true;
            break;
        }
        case 7: {
            const int command = in.Byte() % 4 == 0 ? in.Int() : in.Byte() % 12;
            Trace("ShowWindow %d", command);
            ShowWindow(hwnd, command);
            break;
        }
        case 8:
            Trace("UpdateWindow");
            UpdateWindow(hwnd);
            break;
        case 9: {
            const RECT rect = AnyRect(in);
            const bool everyWindow = in.Byte() % 8 == 0;
            const bool whole = in.Bool();
            const bool erase = in.Bool();
            Trace("InvalidateRect %s %s erase=%d", everyWindow ? "NULL" : "hwnd",
                  whole ? "whole" : "rect", erase);
            InvalidateRect(everyWindow ? NULL : hwnd, whole ? nullptr : &rect, erase);
            break;
        }
        case 10: {
            const UINT message = PickMessage(in);
            const WPARAM wParam = in.Take<WPARAM>();
            const LPARAM lParam = in.Take<LPARAM>();
            const bool thread = in.Byte() % 8 == 0;
            Trace("PostMessage %s 0x%x", thread ? "NULL" : "hwnd", message);
            PostMessageA(thread ? NULL : hwnd, message, wParam, lParam);
            run.drewBehind = run.drewBehind || message == WM_ERASEBKGND;
            break;
        }
        case 11: {
            const UINT message = PickMessage(in);
            const WPARAM wParam = in.Take<WPARAM>();
            const LPARAM lParam = in.Take<LPARAM>();
            Trace("SendMessage 0x%x", message);
            SendMessageA(hwnd, message, wParam, lParam);
            run.drewBehind = run.drewBehind || message == WM_ERASEBKGND;
            break;
        }
        case 12: {
            // What a window manager would tell it, through the procedure.
            WINDOWPOS pos = {};
            pos.hwnd = hwnd;
            pos.x = in.Int();
            pos.y = in.Int();
            pos.cx = in.Int();
            pos.cy = in.Int();
            pos.flags = in.Take<UINT>();
            Trace("send WM_WINDOWPOSCHANGED");
            SendMessageA(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
            break;
        }
        case 13: {
            // A device context of the window, left to draw on.
            Trace("erase through GetDC");
            HDC hdc = GetDC(hwnd);
            SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0);
            ReleaseDC(hwnd, hdc);
            run.drewBehind = true;
            break;
        }
        case 14:
            Trace("draw through GetDC");
            DrawThroughGetDc(in, hwnd);
            run.drewBehind = true;
            break;
        case 15:
            if (in.Byte() % 4 == 0) {
                Trace("post WM_CLOSE");
                PostMessageA(hwnd, WM_CLOSE, 0, 0);
                run.closing = true;
            }
            break;
    }
}

// The canvas as 0x00RRGGBB rows; empty when the program has none.
std::vector<std::uint32_t> ReadCanvas(int* width, int* height) {
    *width = 0;
    *height = 0;
    const gdi::Bitmap* canvas = gdi::LookupBitmap(bitmap);
    if (canvas == nullptr || canvas->isDefault) {
        return {};
    }
    *width = canvas->width;
    *height = canvas->height;
    return std::vector<std::uint32_t>(canvas->pixels.get(),
                                      canvas->pixels.get() + static_cast<std::size_t>(*width) *
                                                                 static_cast<std::size_t>(*height));
}

// While the loop is idle, the display shows the canvas at the top left of
// the client area and white beyond it.
void CheckPicture(const Run& run, HWND hwnd) {
    if (run.drewBehind || run.screenChanged) {
        return;
    }
    headless::WindowView view;
    if (!headless::GetWindowView(hwnd, &view) || view.show == platform::WindowShow::kHidden ||
        view.show == platform::WindowShow::kMinimized) {
        return;
    }
    int canvasWidth = 0;
    int canvasHeight = 0;
    const std::vector<std::uint32_t> canvas = ReadCanvas(&canvasWidth, &canvasHeight);
    const int width = std::min(view.Width(), kMaxSurfaceSide);
    const int height = std::min(view.Height(), kMaxSurfaceSide);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool onCanvas = x < canvasWidth && y < canvasHeight;
            const std::uint32_t want =
                onCanvas ? canvas[static_cast<std::size_t>(y) * canvasWidth + x] : kWhite;
            if (view.Pixel(x, y) != want) {
                std::fprintf(stderr, "pixel (%d, %d) of %dx%d is %06X, want %06X\n", x, y,
                             view.Width(), view.Height(), view.Pixel(x, y), want);
                Fail("the window does not show the canvas and the class background");
            }
        }
    }
}

void OnIdle(Run& run) {
    ++run.idleCalls;
    const std::vector<HWND> windows = headless::Windows();
    if (run.closing) {
        Fail("the program still waits for messages after its window was closed");
    }
    if (windows.size() != 1) {
        Fail("the program does not have exactly one window while it runs");
    }
    const HWND hwnd = windows[0];
    Trace("idle %d", run.idleCalls);
    CheckPicture(run, hwnd);
    if (run.in.Empty()) {
        headless::InjectClose(hwnd);
        run.closing = true;
        return;
    }
    const int steps = 1 + run.in.Byte() % kMaxStepsPerIdle;
    for (int i = 0; i < steps && !run.closing; ++i) {
        Step(run, hwnd);
    }
    // The headless display counts an idle call that queues nothing as a
    // display that can never send anything again; an empty exposure keeps
    // it alive without changing anything.
    headless::InjectExpose(hwnd, RECT{0, 0, 0, 0});
}

int CountDcs() {
    int count = 0;
    gdi::ForEachDc([&count](HDC, gdi::Dc*) { ++count; });
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    int width = 0;
    int height = 0;
    PickScreen(in, &width, &height);
    Trace("start on a %dx%d screen", width, height);
    headless::Start(width, height);
    const int dcsBefore = CountDcs();

    Run run(&in);
    headless::SetIdleHandler([&run]() { OnIdle(run); });
    char program[] = "ostrevane";
    char* argv[] = {program, nullptr};
    const int result = platform::RunWinMain(1, argv, headless::GetBackend());
    if (result != 0) {
        std::fprintf(stderr, "WinMain returned %d\n", result);
        Fail("WinMain did not return 0 after its window was closed");
    }
    if (!run.closing) {
        Fail("WinMain returned before its window was closed");
    }
    if (gdi::LookupBitmap(bitmap) != nullptr && !gdi::LookupBitmap(bitmap)->stock) {
        Fail("the canvas bitmap outlived the window");
    }
    if (CountDcs() != dcsBefore) {
        Fail("device contexts outlived the window");
    }
    headless::Stop();
    return 0;
}
