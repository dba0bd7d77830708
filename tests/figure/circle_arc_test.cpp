#include "geometry/circle_arc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace {

std::vector<Point2> recorded;
void RecordSegment(Point2 start, Point2 end) {
    recorded.push_back(start);
    recorded.push_back(end);
}

// A point as (u, t), to compare in one go.
std::pair<double, double> UT(Point2 point) { return {point.u, point.t}; }

CircleArc MakeArc(ArcParams params) {
    CircleArc arc;
    arc.lastPoint = Point2{0, 0};
    arc.newPoint = Point2{0, 0};
    arc.renderer = RecordSegment;
    arc.params = params;
    return arc;
}

TEST(CircleArcTest, EvaluateGivesTheRightHalfOfTheCircle) {
    CircleArc arc = MakeArc({0, 121, 165, 0, 286, 0, 165});
    EXPECT_EQ(arc.Evaluate(286), 0.0);    // tangent top, exactly
    EXPECT_EQ(arc.Evaluate(121), 165.0);  // level with the centre: cx + r
    CircleArc shifted = MakeArc({7, -3, 5, -8, 2, 0, 20});
    EXPECT_DOUBLE_EQ(shifted.Evaluate(1), 10.0);  // 3-4-5 triangle, right of the centre
}

TEST(CircleArcTest, EvaluateIsFiniteWhereRoundingMakesTheRadicandNegative) {
    // The upper inner crescent arc at scale 0.1: its tangent top rounds to
    // a radicand a hair below zero.
    CircleArc arc = MakeArc({0, 1.5, 1.05, 1.5, 2.55, 0.2, 1.05});
    EXPECT_EQ(arc.Evaluate(arc.params.tMax), 0.0);
    // Well outside the circle the result stays finite too.
    EXPECT_TRUE(std::isfinite(arc.Evaluate(1000.0)));
}

TEST(CircleArcTest, SeekStartAcceptsTheTangentTopAtOnce) {
    CircleArc arc = MakeArc({0, 0, 33, 0, 33, 0, 33});
    arc.newPoint = Point2{5, 6};
    Point2 start = arc.SeekStart();
    EXPECT_EQ(UT(start), std::make_pair(0.0, 33.0));
    EXPECT_EQ(UT(arc.lastPoint), UT(start));
    EXPECT_EQ(UT(arc.newPoint), std::make_pair(5.0, 6.0));  // untouched
}

TEST(CircleArcTest, SeekStartWalksDownInAccumulatedSteps) {
    // The top lies left of uMin, so the search steps down until u enters.
    CircleArc arc = MakeArc({0, 0, 10, 0, 10, 6, 10});
    Point2 start = arc.SeekStart();
    double t = 10;
    int steps = 0;
    while (arc.Evaluate(t) < 6) {
        t = t - 0.1;
        ++steps;
    }
    EXPECT_GT(steps, 10);
    EXPECT_EQ(start.t, t);
    EXPECT_GE(start.u, 6.0);
}

TEST(CircleArcTest, BoundsAreInclusive) {
    CircleArc arc = MakeArc({0, 0, 10, 2, 8, 6, 8});
    EXPECT_TRUE(arc.AcceptsT(2));
    EXPECT_TRUE(arc.AcceptsT(8));
    EXPECT_FALSE(arc.AcceptsT(std::nextafter(2.0, 0.0)));
    EXPECT_FALSE(arc.AcceptsT(std::nextafter(8.0, 9.0)));
    EXPECT_TRUE(arc.AcceptsU(6));
    EXPECT_TRUE(arc.AcceptsU(8));
    EXPECT_FALSE(arc.AcceptsU(std::nextafter(8.0, 9.0)));
    // At t = 8 the circle gives u = 6 exactly: the corner of the box.
    arc.params.tMax = 8;
    Point2 start = arc.SeekStart();
    EXPECT_EQ(UT(start), std::make_pair(6.0, 8.0));
}

TEST(CircleArcTest, SeekStartGivesUpBelowTheBoxAndParksOnTheClosingPoint) {
    // u never reaches the box, or the box is upside down: the search must
    // end, and closing the arc must then draw nothing.
    const ArcParams hopeless[] = {
        {0, 0, 10, 0, 10, 50, 60},
        {0, 0, 10, 8, 2, 0, 10},
        {0, 0, 10, -1e300, 10, 50, 60},
    };
    for (const ArcParams& params : hopeless) {
        CircleArc arc = MakeArc(params);
        Point2 start = arc.SeekStart();
        EXPECT_EQ(start.t, params.tMin);
        recorded.clear();
        arc.newPoint = Point2{arc.Evaluate(params.tMin), params.tMin};
        arc.EmitSegment();
        ASSERT_EQ(recorded.size(), 2u);
        EXPECT_EQ(UT(recorded[0]), UT(recorded[1]));
    }
}

TEST(CircleArcTest, EmitSegmentDrawsFromTheLastPointToTheNewOne) {
    CircleArc arc = MakeArc({0, 0, 1, 0, 1, 0, 1});
    arc.lastPoint = Point2{1, 2};
    arc.newPoint = Point2{3, 4};
    recorded.clear();
    arc.EmitSegment();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(UT(recorded[0]), std::make_pair(1.0, 2.0));
    EXPECT_EQ(UT(recorded[1]), std::make_pair(3.0, 4.0));
    EXPECT_EQ(arc.lastPoint.u, 1.0);  // the caller advances the pen, not the arc

    CircleArc blank;  // zero-initialised arc: no renderer yet
    blank.renderer = nullptr;
    blank.EmitSegment();
}

}  // namespace
