#include "render/symmetric_segment.h"

#include <windows.h>

#include <climits>
#include <cmath>

#include "common/canvas.h"
#include "common/screen_metrics.h"

namespace {
// The decimal value the figure was designed with, not full-precision pi.
const double kPi = 3.14159265358979;
const double kTurn = 120.0;
}  // namespace

int RoundToPixel(double x) {
    // Converting a value outside the int range is undefined; saturate instead.
    if (std::isnan(x)) {
        return 0;
    }
    if (x >= 2147483647.0) {
        return INT_MAX;
    }
    if (x <= -2147483648.0) {
        return INT_MIN;
    }
    int n = static_cast<int>(x);
    int d = static_cast<int>((x - n) * 10);
    return d >= 5 ? n + 1 : n;
}

void DrawLine(Point2 p, Point2 q) {
    int startX = RoundToPixel(centreX + p.u);
    int startY = RoundToPixel(centreY - p.t);
    MoveToEx(memoryDC, startX, startY, NULL);
    int endX = RoundToPixel(centreX + q.u);
    int endY = RoundToPixel(centreY - q.t);
    LineTo(memoryDC, endX, endY);
}

double SinDegrees(double a) { return std::sin(a * kPi / 180); }

double CosDegrees(double a) { return std::cos(a * kPi / 180); }

Point2 RotateDegrees(Point2 p, double a) {
    double c = CosDegrees(a);
    double s = SinDegrees(a);
    return Point2{p.u * c - p.t * s, p.t * c + p.u * s};
}

Point2 MirrorU(Point2 p) { return Point2{-p.u, p.t}; }

void DrawSymmetricSegment(Point2 p, Point2 q) {
    DrawLine(p, q);

    Point2 turnedP = RotateDegrees(p, kTurn);
    Point2 turnedQ = RotateDegrees(q, kTurn);
    DrawLine(turnedP, turnedQ);

    DrawLine(MirrorU(turnedP), MirrorU(turnedQ));

    Point2 mirroredP = MirrorU(p);
    Point2 mirroredQ = MirrorU(q);
    DrawLine(mirroredP, mirroredQ);

    Point2 mirroredTurnedP = RotateDegrees(mirroredP, kTurn);
    Point2 mirroredTurnedQ = RotateDegrees(mirroredQ, kTurn);
    DrawLine(mirroredTurnedP, mirroredTurnedQ);

    DrawLine(MirrorU(mirroredTurnedP), MirrorU(mirroredTurnedQ));
}
