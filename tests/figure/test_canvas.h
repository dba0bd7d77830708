// A screen-sized black canvas in the program's globals, as the window
// procedure makes it, with every LineTo recorded.
#ifndef OSTREVANE_TESTS_FIGURE_TEST_CANVAS_H
#define OSTREVANE_TESTS_FIGURE_TEST_CANVAS_H

#include <windows.h>

#include <platform_extras.h>

#include <cstdint>
#include <vector>

#include "common/canvas.h"
#include "common/screen_metrics.h"

struct Line {
    int x0, y0, x1, y1;
    bool operator==(const Line& o) const {
        return x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1;
    }
};

class TestCanvas {
public:
    TestCanvas(int width, int height) {
        screenWidth = width;
        screenHeight = height;
        centreX = width / 2;
        centreY = height / 2;
        HDC screen = GetDC(NULL);
        memoryDC = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(NULL, screen);
        SelectObject(memoryDC, bitmap);
        SelectObject(memoryDC, GetStockObject(BLACK_BRUSH));
        PatBlt(memoryDC, 0, 0, width, height, PATCOPY);
        PlatformObserveLines(memoryDC, Record, &lines);
    }
    ~TestCanvas() {
        DeleteDC(memoryDC);
        DeleteObject(bitmap);
        memoryDC = NULL;
        bitmap = NULL;
    }

    // 0x00RRGGBB pixels, rows top to bottom.
    std::vector<std::uint32_t> Pixels() const {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = screenWidth;
        info.bmiHeader.biHeight = -screenHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(screenWidth) * screenHeight);
        GetDIBits(memoryDC, bitmap, 0, screenHeight, pixels.data(), &info, DIB_RGB_COLORS);
        return pixels;
    }

    std::vector<Line> lines;

private:
    static void Record(void* context, int x0, int y0, int x1, int y1) {
        static_cast<std::vector<Line>*>(context)->push_back(Line{x0, y0, x1, y1});
    }
};

#endif  // OSTREVANE_TESTS_FIGURE_TEST_CANVAS_H
