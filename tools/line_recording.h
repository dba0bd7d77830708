// Printing the line list: every LineTo on a device context, in call order.
#ifndef OSTREVANE_TOOLS_LINE_RECORDING_H
#define OSTREVANE_TOOLS_LINE_RECORDING_H

#include <windows.h>

#include <cstdio>

// Prints "x0 y0 x1 y1" to `out` for every later LineTo on `hdc`. Returns
// false where the platform cannot observe its lines.
bool RecordLines(HDC hdc, std::FILE* out);

#endif  // OSTREVANE_TOOLS_LINE_RECORDING_H
