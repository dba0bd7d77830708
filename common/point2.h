// Figure coordinates and the function type that draws a segment between two
// of them.
#ifndef OSTREVANE_COMMON_POINT2_H
#define OSTREVANE_COMMON_POINT2_H

// A point of the figure: u to the right, t upward, origin at the figure
// centre, one unit per pixel. Always passed and returned by value.
struct Point2 {
    double u;
    double t;
};

// Draws the segment from `start` to `end`.
typedef void (*SegmentRenderer)(Point2 start, Point2 end);

#endif  // OSTREVANE_COMMON_POINT2_H
