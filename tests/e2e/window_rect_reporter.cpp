// window_rect_reporter: one window, captioned by its first argument, that
// prints GetWindowRect ("rect LEFT TOP RIGHT BOTTOM", one line, flushed)
// once shown and after every position change, so that a test can hold the
// window manager's view of the window against the X server's. Each WM_CHAR
// it receives prints "char XX" (the byte in hex), so that a test can hold
// what typed keys became against what was typed. It paints only what is to
// be painted, each column x in RGB(x % 256, 0, 128), so that a test can see
// a partial update land in the right columns. Closing the window ends it
// with exit code 0, after "ctype NAME": its LC_CTYPE locale then, which the
// display must have left as it was ("C").
//
// With REPORTER_HOLD set to "XX PATH", the first WM_CHAR of byte XX is held
// once it is printed: the reporter reads the FIFO at PATH to its end before
// it takes its next message, so that a test can change the display while
// what followed that key waits in the reporter's queues.
#include <windows.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {

void HoldAt(unsigned byte) {
    static bool held = false;
    const char* hold = std::getenv("REPORTER_HOLD");
    unsigned at = 0;
    int path = 0;
    if (held || hold == nullptr || std::sscanf(hold, "%x %n", &at, &path) != 1 || at != byte ||
        path == 0) {
        return;
    }
    held = true;
    if (std::FILE* fifo = std::fopen(hold + path, "rb")) {
        while (std::fgetc(fifo) != EOF) {
        }
        std::fclose(fifo);
    }
}

void Report(HWND hwnd) {
    RECT rect = {};
    if (GetWindowRect(hwnd, &rect)) {
        std::printf("rect %ld %ld %ld %ld\n", static_cast<long>(rect.left),
                    static_cast<long>(rect.top), static_cast<long>(rect.right),
                    static_cast<long>(rect.bottom));
        std::fflush(stdout);
    }
}

LRESULT CALLBACK ReporterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_WINDOWPOSCHANGED:
            Report(hwnd);
            break;
        case WM_CHAR:
            std::printf("char %02x\n", static_cast<unsigned>(wParam));
            std::fflush(stdout);
            HoldAt(static_cast<unsigned>(wParam));
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(hwnd, &paint);
            for (int x = paint.rcPaint.left; x < paint.rcPaint.right; ++x) {
                HGDIOBJ old = SelectObject(dc, CreateSolidBrush(RGB(x % 256, 0, 128)));
                PatBlt(dc, x, paint.rcPaint.top, 1, paint.rcPaint.bottom - paint.rcPaint.top,
                       PATCOPY);
                DeleteObject(SelectObject(dc, old));
            }
            EndPaint(hwnd, &paint);
            return 0;
        }
        case WM_DESTROY:
            std::printf("ctype %s\n", std::setlocale(LC_CTYPE, nullptr));
            std::fflush(stdout);
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ReporterProc;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = "WindowRectReporter";
    if (!RegisterClassExA(&wc)) {
        return 1;
    }
    const char* title =
        commandLine != nullptr && commandLine[0] != '\0' ? commandLine : "window_rect_reporter";
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 320, 240, NULL, NULL, instance, NULL);
    if (hwnd == NULL) {
        return 1;
    }
    ShowWindow(hwnd, showCommand);
    UpdateWindow(hwnd);
    Report(hwnd);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
