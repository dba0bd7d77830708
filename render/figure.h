// The figure plotter: draws the outline of the biohazard symbol into the
// canvas from seven circle arcs, a scan-line sweep and four connectors.
#ifndef OSTREVANE_RENDER_FIGURE_H
#define OSTREVANE_RENDER_FIGURE_H

#include "common/point2.h"
#include "geometry/circle_arc.h"

// The scale the program draws at: pixels per unit of the arc table.
const double kFigureScale = 11.0;

// The seven arcs of one sixth of the outline, in their only order.
const int kArcCount = 7;
extern CircleArc arcs[kArcCount];

// The arc table in units; every value is multiplied by the scale.
extern const ArcParams kArcTable[kArcCount];

// Starts kept for the connectors.
extern Point2 arc1Start;
extern Point2 arc2Start;
extern Point2 arc6Start;
extern Point2 arc7Start;
// Closing points kept for the connectors; arc5End and arc7End carry the
// connector shift.
extern Point2 arc3End;
extern Point2 arc4End;
extern Point2 arc5End;
extern Point2 arc7End;

// Draws the whole figure into memoryDC around the screen centre. Needs the
// canvas to exist.
void DrawFigure(double scale);

// Fills the arcs from the table and finds their starts.
void BuildArcs(double scale);

// One step of the sweep: every arc that accepts t and its u draws a segment
// from its pen position to the new sample.
void PlotStep(double t);

// Draws every arc down to its lower end.
void CloseArcs();

#endif  // OSTREVANE_RENDER_FIGURE_H
