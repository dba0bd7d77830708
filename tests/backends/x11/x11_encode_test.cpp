// The X11 display's choice between fills and images for a band of client
// pixels: the fills, drawn back, give every pixel of the band.
#include "platform/backends/x11/x11_encode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "render/figure.h"
#include "tests/figure/test_canvas.h"

namespace {

using platform::x11::BandPlan;
using platform::x11::ColourRects;
using platform::x11::FillRect;
using platform::x11::PlanBand;

// Plans the canvas in bands of `bandRows`, columns `left` to the right edge
// drawn at window x = `left`; each band planned as fills must draw back
// exactly (as the X server draws them: the band's fill, then the colours in
// order). Returns the bands planned as fills and adds up both costs.
int CheckBands(const std::vector<std::uint32_t>& pixels, int width, int height, int left,
               int bandRows, std::size_t* fillBytes, std::size_t* imageBytes) {
    BandPlan plan;
    int fills = 0;
    for (int top = 0; top < height; top += bandRows) {
        int rows = std::min(bandRows, height - top);
        int w = width - left;
        PlanBand(pixels.data() + static_cast<std::size_t>(top) * width + left, width, left, top, w,
                 rows, &plan);
        *imageBytes += plan.imageBytes;
        if (!plan.fills) {
            *fillBytes += plan.imageBytes;
            continue;
        }
        ++fills;
        *fillBytes += plan.fillBytes;
        EXPECT_LT(plan.fillBytes, plan.imageBytes);
        std::vector<std::uint32_t> drawn(static_cast<std::size_t>(w) * rows, plan.background);
        for (const ColourRects& colour : plan.colours) {
            for (std::size_t i = colour.first; i < colour.first + colour.count; ++i) {
                const FillRect& r = plan.rects[i];
                bool inside = r.x >= left && r.y >= top && r.x + r.width <= width &&
                              r.y + r.height <= top + rows;
                EXPECT_TRUE(inside) << "rectangle at " << r.x << "," << r.y;
                if (!inside) {
                    return -1;
                }
                for (int y = r.y; y < r.y + r.height; ++y) {
                    for (int x = r.x; x < r.x + r.width; ++x) {
                        drawn[static_cast<std::size_t>(y - top) * w + (x - left)] = colour.colour;
                    }
                }
            }
        }
        int wrong = 0;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < w; ++x) {
                wrong += drawn[static_cast<std::size_t>(y) * w + x] !=
                         (pixels[static_cast<std::size_t>(top + y) * width + left + x] & 0xFFFFFF);
            }
        }
        EXPECT_EQ(wrong, 0) << "pixels drawn wrong in the band at row " << top;
    }
    return fills;
}

TEST(X11EncodeTest, TheFigureGoesAsFillsOfAFewKilobytesAndDrawsBackExactly) {
    const int width = 1440, height = 810;
    TestCanvas canvas(width, height);
    DrawFigure(kFigureScale);
    std::vector<std::uint32_t> pixels = canvas.Pixels();
    for (int left : {0, 37}) {
        std::size_t fillBytes = 0;
        std::size_t imageBytes = 0;
        int bands = (height + 44) / 45;
        EXPECT_EQ(CheckBands(pixels, width, height, left, 45, &fillBytes, &imageBytes), bands);
        EXPECT_LT(fillBytes * 100, imageBytes) << fillBytes << " bytes of fills";
    }
}

TEST(X11EncodeTest, NoiseGoesAsImagesAndMixedBandsStayExact) {
    // Noise drawn through the GDI above, a few filled rectangles in three
    // colours on black below.
    const int width = 96, height = 64;
    TestCanvas canvas(width, height);
    std::uint32_t state = 12345;
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            HBRUSH brush = CreateSolidBrush(RGB(state >> 24, state >> 16, state >> 8));
            HGDIOBJ old = SelectObject(memoryDC, brush);
            PatBlt(memoryDC, x, y, 1, 1, PATCOPY);
            SelectObject(memoryDC, old);
            DeleteObject(brush);
        }
    }
    const COLORREF colours[] = {RGB(255, 0, 0), RGB(0, 0, 255), RGB(1, 2, 3)};
    for (int i = 0; i < 9; ++i) {
        HBRUSH brush = CreateSolidBrush(colours[i % 3]);
        HGDIOBJ old = SelectObject(memoryDC, brush);
        PatBlt(memoryDC, 5 + i * 9, 34 + i * 3, 7 - i % 3, 4, PATCOPY);
        SelectObject(memoryDC, old);
        DeleteObject(brush);
    }
    std::vector<std::uint32_t> pixels = canvas.Pixels();
    std::size_t fillBytes = 0;
    std::size_t imageBytes = 0;
    // Bands of 16 rows: two of noise as images, two of rectangles as fills.
    EXPECT_EQ(CheckBands(pixels, width, height, 0, 16, &fillBytes, &imageBytes), 2);
    // One band over both: its noise alone costs more as rectangles.
    EXPECT_EQ(CheckBands(pixels, width, height, 3, 64, &fillBytes, &imageBytes), 0);
    // Only the colour counts, not the unused top byte.
    pixels.assign(64, 0xFF000000u);
    pixels[10] = 0;
    BandPlan plan;
    PlanBand(pixels.data(), 8, 0, 0, 8, 8, &plan);
    EXPECT_TRUE(plan.fills);
    EXPECT_EQ(plan.background, 0u);
    EXPECT_TRUE(plan.rects.empty());
}

}  // namespace
