// The line rasteriser against an independent statement of the rule: for each
// pixel column (or row) of the window, the exact position on the line rounded
// to the nearest pixel, an exact half going to the smaller coordinate.
#include "platform/gdi/line_raster.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace {

using platform::gdi::ClipLine;
using platform::gdi::DeviceLineEnds;
using platform::gdi::LineWalk;
using platform::gdi::WalkLine;
typedef std::set<std::pair<int, int>> Pixels;
typedef __int128 Wide;

// Lit pixels inside [0, w) x [0, h), computed pixel by pixel over the window
// (so it works for lines of any length).
Pixels Expected(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, int w, int h) {
    Pixels pixels;
    const std::int64_t dx = x1 - x0, dy = y1 - y0;
    const bool xMajor = (dx < 0 ? -dx : dx) > (dy < 0 ? -dy : dy);
    const std::int64_t a0 = xMajor ? x0 : y0, b0 = xMajor ? y0 : x0;
    const std::int64_t da = xMajor ? dx : dy, db = xMajor ? dy : dx;
    const std::int64_t n = da < 0 ? -da : da;
    for (int a = 0; a < (xMajor ? w : h); ++a) {
        const std::int64_t i = da > 0 ? a - a0 : a0 - a;
        if (i < 0 || i >= n) {
            continue;
        }
        // Exact minor position b0 + i * db / n, as a whole part and a
        // remainder compared with half a pixel.
        const Wide num = Wide(i) * db;
        Wide whole = num / n, rest = num % n;
        if (rest < 0) {
            whole -= 1;
            rest += n;
        }
        // Round up past the half; at an exact half stay on `whole`, the
        // smaller coordinate whichever way the line runs.
        if (2 * rest > n) {
            whole += 1;
        }
        const Wide b = b0 + whole;
        if (b >= 0 && b < (xMajor ? h : w)) {
            pixels.insert(xMajor ? std::make_pair(a, int(b)) : std::make_pair(int(b), a));
        }
    }
    return pixels;
}

std::vector<std::pair<int, int>> Walked(std::int64_t x0, std::int64_t y0, std::int64_t x1,
                                        std::int64_t y1, int w, int h) {
    std::vector<std::pair<int, int>> order;
    WalkLine(ClipLine(x0, y0, x1, y1, w, h), [&](int x, int y) { order.emplace_back(x, y); });
    return order;
}

Pixels Lit(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, int w, int h) {
    const auto order = Walked(x0, y0, x1, y1, w, h);
    Pixels pixels(order.begin(), order.end());
    EXPECT_EQ(pixels.size(), order.size()) << "a pixel was lit twice";
    return pixels;
}

unsigned seed = 20240601u;
int Random(int low, int high) {
    seed = seed * 1664525u + 1013904223u;
    return low + int((seed >> 8) % unsigned(high - low + 1));
}

TEST(LineRasterTest, EveryDirectionAndLengthRoundsToNearest) {
    for (int dy = -12; dy <= 12; ++dy) {
        for (int dx = -12; dx <= 12; ++dx) {
            EXPECT_EQ(Lit(15, 15, 15 + dx, 15 + dy, 31, 31),
                      Expected(15, 15, 15 + dx, 15 + dy, 31, 31))
                << "to (" << 15 + dx << ", " << 15 + dy << ")";
        }
    }
}

TEST(LineRasterTest, StartsAtFirstPointAndLeavesOutTheLast) {
    const auto order = Walked(2, 3, 9, 5, 20, 20);
    ASSERT_EQ(order.size(), 7u);
    EXPECT_EQ(order.front(), std::make_pair(2, 3));
    EXPECT_EQ(order.back(), std::make_pair(8, 5));
    EXPECT_TRUE(Walked(4, 4, 4, 4, 20, 20).empty());
}

TEST(LineRasterTest, ExactHalvesGoToTheSmallerCoordinateBothWays) {
    // x-major: at x = 2 the line is at y = 0.5 whichever end it starts from.
    EXPECT_EQ(Walked(0, 0, 4, 1, 9, 9),
              (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 0}, {3, 1}}));
    EXPECT_EQ(Walked(4, 1, 0, 0, 9, 9),
              (std::vector<std::pair<int, int>>{{4, 1}, {3, 1}, {2, 0}, {1, 0}}));
    // y-major, going up and left.
    EXPECT_EQ(Walked(1, 4, 0, 0, 9, 9),
              (std::vector<std::pair<int, int>>{{1, 4}, {1, 3}, {0, 2}, {0, 1}}));
    EXPECT_EQ(Walked(0, 0, 1, 4, 9, 9),
              (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {1, 3}}));
}

TEST(LineRasterTest, DiagonalsStepBothAxesEveryPixel) {
    EXPECT_EQ(Walked(5, 0, 0, 5, 9, 9),
              (std::vector<std::pair<int, int>>{{5, 0}, {4, 1}, {3, 2}, {2, 3}, {1, 4}}));
    EXPECT_EQ(Lit(0, 0, 6, 6, 9, 9), Expected(0, 0, 6, 6, 9, 9));
    EXPECT_EQ(Lit(6, 6, 0, 0, 9, 9).size(), 6u);
}

TEST(LineRasterTest, ClippingNeverChangesThePixelsInside) {
    for (int k = 0; k < 3000; ++k) {
        const int x0 = Random(-300, 300), y0 = Random(-300, 300);
        const int x1 = Random(-300, 300), y1 = Random(-300, 300);
        const Pixels big = Lit(x0, y0, x1, y1, 400, 400);
        ASSERT_EQ(big, Expected(x0, y0, x1, y1, 400, 400));
        Pixels inside;
        for (const auto& p : big) {
            if (p.first < 37 && p.second < 23) {
                inside.insert(p);
            }
        }
        ASSERT_EQ(Lit(x0, y0, x1, y1, 37, 23), inside) << x0 << " " << y0 << " " << x1 << " " << y1;
    }
}

TEST(LineRasterTest, LinesAcrossTheWholeIntRangeTouchOnlyTheWindow) {
    // Each of these would take billions of steps if walked from its start.
    EXPECT_EQ(Walked(INT_MIN, 5, INT_MAX, 5, 100, 10).size(), 100u);
    EXPECT_EQ(Walked(INT_MAX, INT_MAX, INT_MIN, INT_MIN, 50, 40).size(), 40u);
    const std::int64_t ends[] = {INT_MIN, INT_MIN + 1, -1000003, 7, 999983, INT_MAX - 1, INT_MAX};
    for (std::int64_t a : ends) {
        for (std::int64_t b : ends) {
            for (std::int64_t c : ends) {
                const std::int64_t d = b / 3 + 11;
                ASSERT_EQ(Lit(a, b, c, d, 64, 48), Expected(a, b, c, d, 64, 48))
                    << a << " " << b << " " << c << " " << d;
                ASSERT_EQ(Lit(d, c, b, a, 64, 48), Expected(d, c, b, a, 64, 48));
            }
        }
    }
    // From beside the window to anywhere in the int range, both ways: the
    // longest lines, whose products of differences pass 2^63.
    const auto anywhere = [] {
        return std::int64_t(Random(-32768, 32767)) * 65536 + Random(0, 65535);
    };
    for (int k = 0; k < 2000; ++k) {
        const std::int64_t x0 = Random(-100, 100), y0 = Random(-100, 100);
        const std::int64_t x1 = anywhere(), y1 = anywhere();
        ASSERT_EQ(Lit(x0, y0, x1, y1, 64, 48), Expected(x0, y0, x1, y1, 64, 48))
            << x0 << " " << y0 << " " << x1 << " " << y1;
        ASSERT_EQ(Lit(x1, y1, x0, y0, 64, 48), Expected(x1, y1, x0, y0, 64, 48))
            << x1 << " " << y1 << " " << x0 << " " << y0;
    }
    EXPECT_EQ(ClipLine(0, 0, 5, 5, 0, 10).count, 0);
}

TEST(LineRasterTest, DeviceEndsFollowThePlatformNearTheIntLimits) {
    // Sloped lines: an end point 2^28 away is scaled down by 8.
    auto ends = DeviceLineEnds(5, 5, 0x10000000, 7);
    EXPECT_TRUE(ends.drawn);
    EXPECT_EQ(ends.x0, 5);
    EXPECT_EQ(ends.x1, 0x2000000);
    EXPECT_EQ(ends.y1, 0);
    ends = DeviceLineEnds(-0x10000007, 9, 1, 2);
    EXPECT_EQ(ends.x0, -0x2000000);
    EXPECT_EQ(ends.y0, 1);
    ends = DeviceLineEnds(3, 1, 0x0FFFFFFF, 2);
    EXPECT_EQ(ends.x1, 0x0FFFFFFF);
    // Axis-parallel lines are exact, except those leaving INT_MAX backwards.
    ends = DeviceLineEnds(INT_MIN, 4, INT_MAX, 4);
    EXPECT_TRUE(ends.drawn);
    EXPECT_EQ(ends.x0, INT_MIN);
    EXPECT_FALSE(DeviceLineEnds(INT_MAX, 4, 0, 4).drawn);
    EXPECT_FALSE(DeviceLineEnds(4, INT_MAX, 4, INT_MIN).drawn);
    EXPECT_TRUE(DeviceLineEnds(0, 4, INT_MAX, 4).drawn);
    EXPECT_TRUE(DeviceLineEnds(INT_MAX, 4, INT_MAX, 9).drawn);
}

}  // namespace
