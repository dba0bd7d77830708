#include "render/figure.h"

#include <windows.h>

#include "common/canvas.h"
#include "render/symmetric_segment.h"

CircleArc arcs[kArcCount];

// The crossing values are where the design's circles meet each other or the
// edge of the symmetry sector; they are used exactly as written.
const ArcParams kArcTable[kArcCount] = {
    // {cx, cy, r, tMin, tMax, uMin, uMax}
    {0, 11, 15, 8.543315113, 26, 2, 15},       // crescent, outer edge up to its tip
    {0, 15, 10.5, 15, 25.5, 2, 10.5},          // crescent, inner edge, upper half
    {0, 15, 10.5, 4.54772752, 15, 1, 10.5},    // crescent, inner edge, down to the spoke
    {0, 0, 13.5, 10.56666667, 13.5, 0, 13.5},  // ring, outer edge
    {0, 0, 10, 7.825, 10, 0, 10},              // ring, inner edge
    {0, 0, 3, 0, 2.828427125, 1, 3},           // central circle
    {0, 15, 9.5, 7.825, 10.56666667, 0, 9.5},  // ring, where the crescent cuts it
};

Point2 arc1Start;
Point2 arc2Start;
Point2 arc6Start;
Point2 arc7Start;
Point2 arc3End;
Point2 arc4End;
Point2 arc5End;
Point2 arc7End;

namespace {
// The sweep begins this many table units above the centre.
const double kSweepTop = 26.0;
// Connector 4 joins the ring's edges 30 pixels to the right of where the
// two circles cross; the shift is in pixels and is not scaled.
const double kConnectorShift = 30.0;
const COLORREF kRed = 0x000000FF;
}  // namespace

void BuildArcs(double scale) {
    for (int i = 0; i < kArcCount; ++i) {
        const ArcParams& row = kArcTable[i];
        arcs[i].params =
            ArcParams{row.cx * scale,   row.cy * scale,   row.r * scale,   row.tMin * scale,
                      row.tMax * scale, row.uMin * scale, row.uMax * scale};
        arcs[i].renderer = DrawSymmetricSegment;
    }
    for (int i = 0; i < kArcCount; ++i) {
        arcs[i].SeekStart();
    }
    arc1Start = arcs[0].lastPoint;
    arc2Start = arcs[1].lastPoint;
    arc6Start = arcs[5].lastPoint;
    arc7Start = arcs[6].lastPoint;
}

void PlotStep(double t) {
    for (int i = 0; i < kArcCount; ++i) {
        CircleArc& arc = arcs[i];
        if (!arc.AcceptsT(t)) {
            continue;
        }
        double u = arc.Evaluate(t);
        if (arc.AcceptsU(u)) {
            arc.newPoint = Point2{u, t};
            arc.EmitSegment();
            arc.lastPoint = arc.newPoint;
        }
    }
}

void CloseArcs() {
    for (int i = 0; i < kArcCount; ++i) {
        CircleArc& arc = arcs[i];
        arc.newPoint = Point2{arc.Evaluate(arc.params.tMin), arc.params.tMin};
        arc.EmitSegment();
    }
}

void DrawFigure(double scale) {
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    if (pen == NULL) {
        // Without a pen nothing shows; end the program once it reaches its loop.
        PostQuitMessage(0);
    }
    HGDIOBJ replacedPen = NULL;
    if (pen != NULL) {
        replacedPen = SelectObject(memoryDC, pen);
    }

    double t = kSweepTop * scale;
    BuildArcs(scale);
    // t accumulates the rounding of repeated subtraction on purpose: the
    // samples it produces are the figure.
    while (t >= 0.0) {
        PlotStep(t);
        t = t - kSweepStep;
    }

    CloseArcs();
    arc3End = arcs[2].newPoint;
    arc4End = arcs[3].newPoint;
    arc5End = arcs[4].newPoint;
    arc7End = arcs[6].newPoint;
    arc5End.u += kConnectorShift;
    arc7End.u += kConnectorShift;

    DrawSymmetricSegment(arc1Start, arc2Start);  // the crescent's tip
    DrawSymmetricSegment(arc3End, arc6Start);    // the spoke
    DrawSymmetricSegment(arc4End, arc7Start);    // ring, outer edge to cut edge
    DrawSymmetricSegment(arc7End, arc5End);      // ring, cut edge to inner edge

    if (pen != NULL) {
        SelectObject(memoryDC, replacedPen);
        DeleteObject(pen);
    }
}
