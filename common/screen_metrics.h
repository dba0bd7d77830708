// The screen size in pixels and its centre, kept by the window procedure and
// read when drawing the figure.
#ifndef OSTREVANE_COMMON_SCREEN_METRICS_H
#define OSTREVANE_COMMON_SCREEN_METRICS_H

extern int screenWidth;
extern int screenHeight;
extern int centreX;  // screenWidth / 2
extern int centreY;  // screenHeight / 2

#endif  // OSTREVANE_COMMON_SCREEN_METRICS_H
