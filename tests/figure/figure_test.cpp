#include "render/figure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/symmetric_segment.h"
#include "tests/figure/test_canvas.h"

namespace {

// Per-arc record of what the sweep made each arc draw.
struct ArcLog {
    int segments = 0;
    int firstStep = 0;  // 1-based index of the sweep value of the first segment
    Point2 first{};
    Point2 last{};
};
ArcLog logs[kArcCount];
int currentStep = 0;

template <int I>
void LogSegment(Point2, Point2 end) {
    ArcLog& log = logs[I];
    if (log.segments++ == 0) {
        log.firstStep = currentStep;
        log.first = end;
    }
    log.last = end;
}
const SegmentRenderer kLoggers[kArcCount] = {LogSegment<0>, LogSegment<1>, LogSegment<2>,
                                             LogSegment<3>, LogSegment<4>, LogSegment<5>,
                                             LogSegment<6>};

// Runs the sweep as DrawFigure does, with every arc logging instead of drawing.
void SweepWithLogs(double scale) {
    BuildArcs(scale);
    for (int i = 0; i < kArcCount; ++i) {
        arcs[i].renderer = kLoggers[i];
        logs[i] = ArcLog();
    }
    currentStep = 0;
    for (double t = 26.0 * scale; t >= 0.0; t = t - 0.1) {
        ++currentStep;
        PlotStep(t);
    }
}

double StepsBelow(double top, int steps) {
    double t = top;
    for (int i = 0; i < steps; ++i) {
        t = t - 0.1;
    }
    return t;
}

TEST(FigureTest, ArcStartsAtTheFigureScale) {
    BuildArcs(kFigureScale);
    EXPECT_EQ(arc1Start.t, StepsBelow(286.0, 15));
    EXPECT_NEAR(arc1Start.u, 22.2, 0.05);
    EXPECT_EQ(arc2Start.t, StepsBelow(280.5, 22));
    EXPECT_NEAR(arc2Start.u, 22.4, 0.05);
    EXPECT_EQ(arcs[2].lastPoint.u, 115.5);
    EXPECT_EQ(arcs[2].lastPoint.t, 165.0);
    EXPECT_EQ(arcs[3].lastPoint.u, 0.0);
    EXPECT_EQ(arcs[3].lastPoint.t, 148.5);
    EXPECT_EQ(arcs[4].lastPoint.u, 0.0);
    EXPECT_EQ(arcs[4].lastPoint.t, 110.0);
    EXPECT_EQ(arc6Start.t, StepsBelow(2.828427125 * 11, 1));
    EXPECT_NEAR(arc6Start.u, 11.28, 0.01);
    EXPECT_NEAR(arc6Start.t, 31.01, 0.01);
    EXPECT_EQ(arc7Start.t, 10.56666667 * 11);
}

TEST(FigureTest, SweepSamplesPerArc) {
    SweepWithLogs(kFigureScale);
    EXPECT_EQ(logs[0].firstStep, 16);
    EXPECT_EQ(logs[1].firstStep, 78);
    EXPECT_EQ(logs[3].segments, 323);
    EXPECT_EQ(logs[4].segments, 239);
    EXPECT_EQ(logs[5].segments, 312);
    EXPECT_EQ(logs[6].segments, 302);
    // Arc 3 refuses the sample at 165 (its u lands a hair above the box) and
    // starts one step lower.
    EXPECT_LT(logs[2].first.t, 165.0);
    EXPECT_NEAR(logs[2].first.t, 164.9, 1e-9);
    // The sweep's last value is within rounding noise of zero, and arc 6
    // still takes it.
    EXPECT_NEAR(logs[5].last.t, 0.0, 1e-9);
    EXPECT_NEAR(logs[5].last.u, 33.0, 1e-6);
}

TEST(FigureTest, ClosingPointsAndConnectors) {
    TestCanvas canvas(1024, 768);
    DrawFigure(kFigureScale);
    EXPECT_NEAR(arc3End.u, 11.0, 0.01);
    EXPECT_NEAR(arc3End.t, 50.03, 0.01);
    EXPECT_EQ(arc5End.u, arcs[4].newPoint.u + 30.0);
    EXPECT_EQ(arc7End.u, arcs[6].newPoint.u + 30.0);
    EXPECT_EQ(arc4End.t, arcs[3].params.tMin);
    // Connectors 3 and 4 are the last twelve lines; each is a single point.
    ASSERT_GE(canvas.lines.size(), 12u);
    for (std::size_t i = canvas.lines.size() - 12; i < canvas.lines.size(); ++i) {
        EXPECT_EQ(canvas.lines[i].x0, canvas.lines[i].x1);
        EXPECT_EQ(canvas.lines[i].y0, canvas.lines[i].y1);
    }
}

std::uint64_t Fingerprint(const std::vector<Line>& lines) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const Line& line : lines) {
        for (int v : {line.x0, line.y0, line.x1, line.y1}) {
            hash ^= static_cast<std::uint32_t>(v);
            hash *= 0x100000001b3u;
        }
    }
    return hash;
}

TEST(FigureTest, LineListAt1024x768) {
    TestCanvas canvas(1024, 768);
    DrawFigure(kFigureScale);
    const std::vector<Line>& lines = canvas.lines;
    // One DrawSymmetricSegment per accepted sample, 7 closings, 4 connectors.
    ASSERT_EQ(lines.size(), 32250u);
    int minX = 1 << 30, maxX = -minX, minY = minX, maxY = -minX;
    for (const Line& l : lines) {
        minX = std::min({minX, l.x0, l.x1});
        maxX = std::max({maxX, l.x0, l.x1});
        minY = std::min({minY, l.y0, l.y1});
        maxY = std::max({maxY, l.y0, l.y1});
    }
    EXPECT_EQ(minX, 242);
    EXPECT_EQ(maxX, 782);
    EXPECT_EQ(minY, 100);
    EXPECT_EQ(maxY, 609);
    EXPECT_EQ(lines[0], (Line{534, 100, 534, 100}));
    // Any change in the order or form of the arithmetic shows up here.
    EXPECT_EQ(Fingerprint(lines), 0x9428df66c6007197u);
}

TEST(FigureTest, CanvasHoldsRedLinesOnBlack) {
    TestCanvas canvas(1024, 768);
    DrawFigure(kFigureScale);
    std::vector<std::uint32_t> pixels = canvas.Pixels();
    std::size_t red = std::count(pixels.begin(), pixels.end(), 0x00FF0000u);
    std::size_t black = std::count(pixels.begin(), pixels.end(), 0u);
    EXPECT_EQ(red + black, pixels.size());
    EXPECT_GT(red, 3000u);
    EXPECT_EQ(pixels[100 * 1024 + 534], 0x00FF0000u);
    EXPECT_EQ(pixels[384 * 1024 + 512], 0u);  // the centre of the figure is empty
}

TEST(FigureTest, SecondDrawingRepeatsTheFirst) {
    TestCanvas canvas(640, 480);
    DrawFigure(kFigureScale);
    std::vector<Line> first = canvas.lines;
    canvas.lines.clear();
    DrawFigure(kFigureScale);
    EXPECT_TRUE(first == canvas.lines);
}

TEST(FigureTest, ExtremeScalesAndScreensFinish) {
    // The largest scale puts almost everything far off a tiny screen.
    const struct {
        int width, height;
        double scale;
    } cases[] = {{1, 1, 1000.0}, {64, 48, 0.1}, {3, 5000, 0.7}, {16384, 1, 250.0}};
    for (const auto& c : cases) {
        TestCanvas canvas(c.width, c.height);
        DrawFigure(c.scale);
        EXPECT_GT(canvas.lines.size(), 0u);
        EXPECT_EQ(canvas.lines.size() % 6, 0u);
    }
}

}  // namespace
