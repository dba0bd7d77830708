#include "render/symmetric_segment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <limits>
#include <vector>

#include "tests/figure/test_canvas.h"

namespace {

TEST(RoundToPixelTest, RoundsHalfUpOnTheFirstDecimalAndTruncatesNegatives) {
    const struct {
        double x;
        int pixel;
    } cases[] = {
        {0.0, 0},  {0.49, 0},   {0.5, 1},   {3.96, 4},    {2.45, 2},      {7.96, 8},
        {-0.5, 0}, {-1.99, -1}, {-2.7, -2}, {501.5, 502}, {522.999, 523},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RoundToPixel(c.x), c.pixel) << c.x;
    }
}

TEST(RoundToPixelTest, SaturatesOutsideTheIntRange) {
    EXPECT_EQ(RoundToPixel(1e300), INT_MAX);
    EXPECT_EQ(RoundToPixel(2147483647.7), INT_MAX);
    EXPECT_EQ(RoundToPixel(2147483646.5), INT_MAX);
    EXPECT_EQ(RoundToPixel(-1e300), INT_MIN);
    EXPECT_EQ(RoundToPixel(-2147483648.9), INT_MIN);
    EXPECT_EQ(RoundToPixel(std::numeric_limits<double>::infinity()), INT_MAX);
    EXPECT_EQ(RoundToPixel(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(SymmetryTest, RotationAndMirror) {
    Point2 turned = RotateDegrees(Point2{0, 1}, 120.0);
    EXPECT_NEAR(turned.u, -std::sqrt(3.0) / 2, 1e-12);
    EXPECT_NEAR(turned.t, -0.5, 1e-12);
    Point2 mirrored = MirrorU(turned);
    EXPECT_EQ(mirrored.u, -turned.u);
    EXPECT_EQ(mirrored.t, turned.t);
    EXPECT_NEAR(SinDegrees(30.0), 0.5, 1e-12);
    EXPECT_NEAR(CosDegrees(60.0), 0.5, 1e-12);
}

TEST(DrawLineTest, MapsFigurePointsAroundTheScreenCentre) {
    TestCanvas canvas(1024, 768);
    DrawLine(Point2{10.5, 0}, Point2{-10.5, 0});
    ASSERT_EQ(canvas.lines.size(), 1u);
    EXPECT_EQ(canvas.lines[0], (Line{523, 384, 502, 384}));
    // t grows upward, rows grow downward.
    DrawLine(Point2{0, 100}, Point2{0, -100});
    EXPECT_EQ(canvas.lines[1], (Line{512, 284, 512, 484}));
}

TEST(DrawSymmetricSegmentTest, DrawsSixCopiesInOrder) {
    TestCanvas canvas(400, 400);
    DrawSymmetricSegment(Point2{0, 10}, Point2{0, 20});
    ASSERT_EQ(canvas.lines.size(), 6u);
    // On the axis a mirror changes nothing: copies 1 and 4, 2 and 5, 3 and 6
    // coincide, and the turned copies sit below the centre.
    EXPECT_EQ(canvas.lines[0], (Line{200, 190, 200, 180}));
    EXPECT_EQ(canvas.lines[3], canvas.lines[0]);
    EXPECT_EQ(canvas.lines[4], canvas.lines[1]);
    EXPECT_EQ(canvas.lines[5], canvas.lines[2]);
    EXPECT_GT(canvas.lines[1].y0, 200);
    EXPECT_LT(canvas.lines[1].x0, 200);
    EXPECT_GT(canvas.lines[2].x0, 200);
    EXPECT_EQ(canvas.lines[1].y0, canvas.lines[2].y0);
}

TEST(DrawSymmetricSegmentTest, ZeroLengthSegmentLeavesNoPixel) {
    TestCanvas canvas(200, 200);
    HPEN pen = CreatePen(PS_SOLID, 1, 0x000000FF);
    HGDIOBJ old = SelectObject(memoryDC, pen);
    DrawSymmetricSegment(Point2{30.3, 40.7}, Point2{30.3, 40.7});
    ASSERT_EQ(canvas.Pixels(), std::vector<std::uint32_t>(200 * 200, 0u));
    // Ends that round to one pixel in copy 1 may still differ once turned.
    DrawSymmetricSegment(Point2{20.0, 20.0}, Point2{20.4, 20.0});
    EXPECT_EQ(canvas.lines[6], (Line{120, 80, 120, 80}));
    EXPECT_EQ(canvas.lines[7], (Line{73, 93, 72, 92}));
    const std::vector<std::uint32_t> pixels = canvas.Pixels();
    EXPECT_TRUE(std::any_of(pixels.begin(), pixels.end(), [](std::uint32_t p) { return p != 0; }));
    SelectObject(memoryDC, old);
    DeleteObject(pen);
}

}  // namespace
