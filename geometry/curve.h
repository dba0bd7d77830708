// A curve of the figure, u as a function of t.
#ifndef OSTREVANE_GEOMETRY_CURVE_H
#define OSTREVANE_GEOMETRY_CURVE_H

#include "common/point2.h"

class Curve {
public:
    // Finds the first accepted sample scanning down from the top of the box.
    virtual Point2 SeekStart() = 0;
    // The u of the curve at height t.
    virtual double Evaluate(double t) = 0;
};

#endif  // OSTREVANE_GEOMETRY_CURVE_H
