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
#include "tests/support/win32_test_support.h"

struct Line {
    int x0, y0, x1, y1;
    bool operator==(const Line& o) const {
        return x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1;
    }
};

class TestCanvas {
public:
    TestCanvas(int width, int height) {
        test_support::MakeProgramCanvas(width, height);
        PlatformObserveLines(memoryDC, Record, &lines);
    }
    ~TestCanvas() {
        DeleteDC(memoryDC);
        DeleteObject(bitmap);
        memoryDC = NULL;
        bitmap = NULL;
    }

    // 0x00RRGGBB pixels, rows top to bottom.
    std::vector<std::uint32_t> Pixels() const { return test_support::ProgramCanvasPixels(); }

    std::vector<Line> lines;

private:
    static void Record(void* context, int x0, int y0, int x1, int y1) {
        static_cast<std::vector<Line>*>(context)->push_back(Line{x0, y0, x1, y1});
    }
};

#endif  // OSTREVANE_TESTS_FIGURE_TEST_CANVAS_H
