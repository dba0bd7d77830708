// Turns a segment of the figure into its six symmetric copies and draws them
// as one-pixel lines on the canvas, around the screen centre.
#ifndef OSTREVANE_RENDER_SYMMETRIC_SEGMENT_H
#define OSTREVANE_RENDER_SYMMETRIC_SEGMENT_H

#include "common/point2.h"

// Rounds half up on the first decimal digit for positive values and
// truncates negative ones toward zero (2.45 -> 2, 2.5 -> 3, -2.7 -> -2).
// Values beyond the int range saturate; NaN gives 0.
int RoundToPixel(double x);

// Moves to the pixel of p and draws towards the pixel of q, which the line
// leaves out.
void DrawLine(Point2 p, Point2 q);

double SinDegrees(double a);
double CosDegrees(double a);

// Counter-clockwise turn by a degrees about the figure centre.
Point2 RotateDegrees(Point2 p, double a);

// Mirror about the vertical axis.
Point2 MirrorU(Point2 p);

// Draws p -> q, its turn by 120 degrees, the mirror of that, its mirror,
// the turn of the mirror, and the mirror of that turn. A SegmentRenderer.
void DrawSymmetricSegment(Point2 p, Point2 q);

#endif  // OSTREVANE_RENDER_SYMMETRIC_SEGMENT_H
