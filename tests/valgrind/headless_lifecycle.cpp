// The whole program, WinMain included, on the headless display, for
// valgrind: its window is shown, typed at, moved, resized, exposed, hidden,
// shown again and painted from a window DC, then closed as a user closes
// it. Exits with WinMain's result, or 3 if the program did not get that far.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/backends/headless/headless_control.h"

namespace headless = platform::headless;

int main(int argc, char** argv) {
    headless::Start(800, 600);
    int idleCalls = 0;
    bool closed = false;
    headless::SetIdleHandler([&]() {
        ++idleCalls;
        const std::vector<HWND> windows = headless::Windows();
        if (windows.size() != 1) {
            return;  // nothing queued: the loop ends with an error
        }
        const HWND hwnd = windows[0];
        switch (idleCalls) {
            case 1:
                headless::InjectChars(hwnd, U"hello\x1b\r\t q");
                break;
            case 2:
                headless::InjectConfigure(hwnd, RECT{10, 20, 310, 220});
                break;
            case 3:
                headless::InjectConfigure(hwnd, RECT{0, 0, 800, 600});
                break;
            case 4:
                headless::InjectExpose(hwnd, RECT{100, 100, 400, 300});
                break;
            case 5: {
                ShowWindow(hwnd, SW_HIDE);
                ShowWindow(hwnd, SW_SHOWMAXIMIZED);
                HDC hdc = GetDC(hwnd);
                PatBlt(hdc, 0, 0, 50, 50, DSTINVERT);
                ReleaseDC(hwnd, hdc);
                InvalidateRect(hwnd, nullptr, TRUE);
                break;
            }
            default:
                headless::InjectClose(hwnd);
                closed = true;
                break;
        }
    });
    const int result = platform::RunWinMain(argc, argv, headless::GetBackend());
    headless::Stop();
    if (!closed) {
        std::fprintf(stderr, "headless_lifecycle: WinMain returned %d before the close\n", result);
        return 3;
    }
    return result;
}
