// The right half of a circle, cut down to a box of accepted t and u, that
// remembers its pen position and draws itself through a SegmentRenderer.
#ifndef OSTREVANE_GEOMETRY_CIRCLE_ARC_H
#define OSTREVANE_GEOMETRY_CIRCLE_ARC_H

#include "common/point2.h"
#include "geometry/curve.h"

// Always written as one block.
struct ArcParams {
    double cx;    // centre, horizontal
    double cy;    // centre, vertical
    double r;     // radius
    double tMin;  // lowest accepted t
    double tMax;  // highest accepted t, where the start search begins
    double uMin;  // lowest accepted u
    double uMax;  // highest accepted u
};

// The search and sweep step in t.
const double kSweepStep = 0.1;

class CircleArc : public Curve {
public:
    // The arcs live in static storage and start all zero; nothing but the
    // dynamic type is set on construction.
    Point2 lastPoint;  // end of the last segment drawn: the pen position
    Point2 newPoint;   // newest sample: the end of the segment about to be drawn
    SegmentRenderer renderer;
    ArcParams params;

    Point2 SeekStart() override;
    double Evaluate(double t) override;

    // Draws from lastPoint to newPoint; moves neither.
    void EmitSegment();

    // Inclusive box tests, written so that a NaN passes them as it would
    // pass the negated comparisons of the sweep.
    bool AcceptsT(double t) const { return !(params.tMin > t) && !(t > params.tMax); }
    bool AcceptsU(double u) const { return !(params.uMin > u) && !(u > params.uMax); }
};

#endif  // OSTREVANE_GEOMETRY_CIRCLE_ARC_H
