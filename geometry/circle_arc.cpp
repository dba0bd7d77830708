#include "geometry/circle_arc.h"

#include <cmath>

double CircleArc::Evaluate(double t) {
    // The larger root of u^2 + b u + c = 0 from (u - cx)^2 + (t - cy)^2 = r^2.
    // Evaluated exactly in this form and order, not as cx + sqrt(r^2 - (t-cy)^2):
    // samples near a pixel's half boundary fall on different sides otherwise.
    const double a = 1.0;
    double b = -2.0 * params.cx;
    double c = std::pow(t, 2.0) - 2.0 * params.cy * t + std::pow(params.cx, 2.0) +
               std::pow(params.cy, 2.0) - std::pow(params.r, 2.0);
    double radicand = std::pow(b, 2.0) - 4.0 * a * c;
    // At a tangent top, rounding can leave the radicand a hair below zero at
    // some scales; the true value there is zero, and sqrt would give NaN.
    if (radicand < 0.0) {
        radicand = 0.0;
    }
    return (-b + std::sqrt(radicand)) / (2.0 * a);
}

Point2 CircleArc::SeekStart() {
    double t = params.tMax;
    for (;;) {
        if (AcceptsT(t)) {
            double u = Evaluate(t);
            if (AcceptsU(u)) {
                lastPoint = Point2{u, t};
                return lastPoint;
            }
            if (t < params.cy - params.r) {
                break;  // below the circle u stays at cx, already refused
            }
        } else if (params.tMin > t) {
            break;  // below the box: nothing can be accepted any more
        }
        double next = t - kSweepStep;
        if (next == t) {
            break;  // too large for the step to move it
        }
        t = next;
    }
    // Nothing in the box: park the pen on the closing point so that closing
    // the arc draws a segment of zero length, that is, nothing.
    lastPoint = Point2{Evaluate(params.tMin), params.tMin};
    return lastPoint;
}

void CircleArc::EmitSegment() {
    if (renderer != nullptr) {
        renderer(lastPoint, newPoint);
    }
}
