// The off-screen canvas: a screen-sized bitmap and the memory device context
// it is selected into. The figure is drawn here once and copied to the window
// on every paint.
#ifndef OSTREVANE_COMMON_CANVAS_H
#define OSTREVANE_COMMON_CANVAS_H

#include <windows.h>

extern HDC memoryDC;
extern HBITMAP bitmap;

#endif  // OSTREVANE_COMMON_CANVAS_H
