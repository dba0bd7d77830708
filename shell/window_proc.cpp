#include "shell/window_proc.h"

#include "common/canvas.h"
#include "common/screen_metrics.h"
#include "render/figure.h"

namespace {

void ReadScreenMetrics() {
    screenWidth = GetSystemMetrics(SM_CXSCREEN);
    screenHeight = GetSystemMetrics(SM_CYSCREEN);
    centreX = screenWidth / 2;
    centreY = screenHeight / 2;
}

}  // namespace

void CreateCanvas(HWND hwnd) {
    ReadScreenMetrics();
    // The window's device context only serves as the reference for the
    // canvas's format. The bitmap must come from it, not from the memory
    // context, which would give a one-bit bitmap.
    HDC reference = GetDC(hwnd);
    memoryDC = CreateCompatibleDC(reference);
    bitmap = CreateCompatibleBitmap(reference, screenWidth, screenHeight);
    ReleaseDC(hwnd, reference);
    SelectObject(memoryDC, bitmap);
    SelectObject(memoryDC, GetStockObject(BLACK_BRUSH));
    PatBlt(memoryDC, 0, 0, screenWidth, screenHeight, PATCOPY);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateCanvas(hwnd);
            DrawFigure(kFigureScale);
            return 0;

        case WM_DESTROY:
            DeleteDC(memoryDC);
            DeleteObject(bitmap);
            PostQuitMessage(0);
            return 0;

        case WM_PAINT: {
            // The figure was drawn once; painting only copies it. Without a
            // canvas (no memory for its bitmap) the window keeps its class
            // background: the memory DC then holds only its default 1x1
            // bitmap, whose black pixel must not be copied.
            PAINTSTRUCT paint;
            HDC target = BeginPaint(hwnd, &paint);
            if (bitmap != NULL) {
                BitBlt(target, 0, 0, screenWidth, screenHeight, memoryDC, 0, 0, SRCCOPY);
            }
            EndPaint(hwnd, &paint);
            return 0;
        }

        case WM_WINDOWPOSCHANGED:
            // Not passed on, so the window gets no WM_SIZE or WM_MOVE.
            ReadScreenMetrics();
            return 0;

        case WM_CHAR:
            return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
