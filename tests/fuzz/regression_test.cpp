// Faults found by the fuzzers and the hostile-condition tests, each kept as
// the smallest case that showed it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/canvas.h"
#include "platform/backends/headless/headless_control.h"

namespace headless = platform::headless;

namespace {

const std::uint32_t kWhite = 0x00FFFFFF;

// Runs the program's WinMain on a headless screen of the given size; the
// first time it waits, `look` sees its window, which is then closed.
int RunProgram(int screenWidth, int screenHeight,
               const std::function<void(const headless::WindowView&)>& look) {
    headless::Start(screenWidth, screenHeight);
    int idleCalls = 0;
    headless::SetIdleHandler([&]() {
        ++idleCalls;
        const std::vector<HWND> windows = headless::Windows();
        if (idleCalls > 1 || windows.size() != 1) {
            return;  // no event queued: the loop ends with -1
        }
        headless::WindowView view;
        ASSERT_TRUE(headless::GetWindowView(windows[0], &view));
        look(view);
        headless::InjectClose(windows[0]);
    });
    char program[] = "ostrevane";
    char* argv[] = {program, nullptr};
    const int result = platform::RunWinMain(1, argv, headless::GetBackend());
    EXPECT_EQ(idleCalls, 1);
    headless::Stop();
    return result;
}

// A screen whose canvas cannot be made (it would take more than the GDI
// gives one bitmap) still gets its window, showing the class background:
// painting used to copy the memory DC's default 1x1 bitmap, a black pixel,
// into the client area's top-left corner.
TEST(MissingCanvas, WindowShowsOnlyTheClassBackgroundAndClosesWithZero) {
    bool looked = false;
    const int result = RunProgram(1000000, 600, [&](const headless::WindowView& view) {
        looked = true;
        EXPECT_EQ(bitmap, static_cast<HBITMAP>(NULL));
        ASSERT_GT(view.Width(), 0);
        ASSERT_GT(view.Height(), 0);
        EXPECT_EQ(std::count(view.pixels.begin(), view.pixels.end(), kWhite),
                  static_cast<std::ptrdiff_t>(view.pixels.size()))
            << "top-left pixel " << std::hex << view.Pixel(0, 0);
    });
    EXPECT_TRUE(looked);
    EXPECT_EQ(result, 0);
}

// --- The headless display ----------------------------------------------------

LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Dispatches until nothing is left (the headless display then reports
// itself broken and GetMessageA gives -1).
void Pump() {
    MSG msg;
    for (int i = 0; i < 1000 && GetMessageA(&msg, NULL, 0, 0) > 0; ++i) {
        DispatchMessageA(&msg);
    }
}

std::size_t NeverPresented(HWND hwnd) {
    headless::WindowView view;
    EXPECT_TRUE(headless::GetWindowView(hwnd, &view));
    return static_cast<std::size_t>(
        std::count(view.pixels.begin(), view.pixels.end(), headless::kNeverPresented));
}

// A window maximised on a screen that reports no size used to become empty
// on the display, which dropped what it showed while the window manager,
// ignoring the empty size, still counted on it: after the next resize part
// of the client area was never painted again (window_fuzzer, with undefined
// behaviour in the display's copy of an empty row on the way).
TEST(HeadlessDisplay, MaximisingOnAnEmptyScreenKeepsTheWindowPainted) {
    headless::Start(640, 480);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PlainProc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = "RegressionWindow";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    HWND hwnd = CreateWindowExA(0, "RegressionWindow", "r", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                50, 40, NULL, NULL, NULL, NULL);
    ASSERT_NE(hwnd, static_cast<HWND>(NULL));
    Pump();
    ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{-3085, -3085, -2073, -2049}));
    Pump();
    EXPECT_EQ(NeverPresented(hwnd), 0u);

    for (int height : {0, 1}) {
        SCOPED_TRACE(height);
        headless::SetScreenSize(1, height);
        ShowWindow(hwnd, SW_SHOWMAXIMIZED);
        Pump();
        headless::WindowView view;
        ASSERT_TRUE(headless::GetWindowView(hwnd, &view));
        EXPECT_GE(view.Width(), 1);
        EXPECT_GE(view.Height(), 1);
        ShowWindow(hwnd, SW_SHOWNORMAL);
        ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{-3085, -3085, -2073, -2073}));
        Pump();
        EXPECT_EQ(NeverPresented(hwnd), 0u);
    }
    headless::Stop();
}

}  // namespace
