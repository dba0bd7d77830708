// Helpers the C++ tests share: a bitmap's pixels read back through
// GetDIBits, the program's canvas set up as the window procedure makes it,
// and a message loop with a recording window procedure. Everything goes
// through the Win32 functions, as the program uses them.
#ifndef OSTREVANE_TESTS_SUPPORT_WIN32_TEST_SUPPORT_H
#define OSTREVANE_TESTS_SUPPORT_WIN32_TEST_SUPPORT_H

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/canvas.h"
#include "common/screen_metrics.h"

namespace test_support {

// A 32-bit BI_RGB header; a negative height asks for rows from the top.
inline BITMAPINFO Dib32Info(LONG width, LONG height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// A bitmap's pixels, 0x00RRGGBB, rows from the top; what GetDIBits did not
// fill stays 0xDEADBEEF. *scans, when given, gets GetDIBits' result.
inline std::vector<std::uint32_t> ReadPixels(HDC dc, HBITMAP source, int width, int height,
                                             int* scans = nullptr) {
    BITMAPINFO info = Dib32Info(width, -height);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, 0xDEADBEEF);
    int copied =
        GetDIBits(dc, source, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    if (scans != nullptr) {
        *scans = copied;
    }
    return pixels;
}

// The program's globals pointed at a new black canvas of the given size, as
// the window procedure makes it. Without a bitmap (withBitmap false) the
// device context keeps its default one and nothing is drawn.
inline void MakeProgramCanvas(int width, int height, bool withBitmap = true) {
    screenWidth = width;
    screenHeight = height;
    centreX = width / 2;
    centreY = height / 2;
    HDC screen = GetDC(NULL);
    memoryDC = CreateCompatibleDC(screen);
    bitmap = withBitmap ? CreateCompatibleBitmap(screen, width, height) : NULL;
    ReleaseDC(NULL, screen);
    if (bitmap != NULL) {
        SelectObject(memoryDC, bitmap);
        SelectObject(memoryDC, GetStockObject(BLACK_BRUSH));
        PatBlt(memoryDC, 0, 0, width, height, PATCOPY);
    }
}

// The program's canvas, as it is now.
inline std::vector<std::uint32_t> ProgramCanvasPixels(int* scans = nullptr) {
    return ReadPixels(memoryDC, bitmap, screenWidth, screenHeight, scans);
}

// Dispatches until the queue is empty and the display has nothing more:
// returns 0 on the quit message, -1 once idle.
inline int PumpUntilIdle() {
    MSG msg;
    BOOL result;
    while ((result = GetMessageA(&msg, NULL, 0, 0)) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return result;
}

// What a recording window procedure saw, in order.
struct Received {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class MessageLog {
public:
    void Record(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        received.push_back(Received{hwnd, message, wParam, lParam});
    }
    void Clear() { received.clear(); }
    std::vector<UINT> Messages() const {
        std::vector<UINT> list;
        for (const Received& r : received) {
            list.push_back(r.message);
        }
        return list;
    }
    int Count(UINT message) const {
        const std::vector<UINT> messages = Messages();
        return static_cast<int>(std::count(messages.begin(), messages.end(), message));
    }

    std::vector<Received> received;
};

}  // namespace test_support

#endif  // OSTREVANE_TESTS_SUPPORT_WIN32_TEST_SUPPORT_H
