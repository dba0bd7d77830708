// One-pixel cosmetic lines, clipped to a bitmap, as the platform's GDI draws
// them.
//
// A line from (x0, y0) to (x1, y1) lights one pixel per step along its major
// axis (x when |dx| > |dy|, otherwise y), starting at (x0, y0) and leaving the
// end point out. The minor coordinate is the exact position on the line
// rounded to the nearest pixel; an exact half goes to the smaller coordinate.
//
// The walk is set up analytically for the first visible step, so the work is
// proportional to the pixels inside the bitmap whatever the coordinates, and
// clipping never changes which pixels inside the bitmap are lit. All
// arithmetic on coordinates is exact in 64 bits, on 32-bit processors too.
#ifndef OSTREVANE_PLATFORM_GDI_LINE_RASTER_H
#define OSTREVANE_PLATFORM_GDI_LINE_RASTER_H

#include <cstdint>

namespace platform {
namespace gdi {

// The visible part of a line, ready to walk pixel by pixel.
struct LineWalk {
    std::int64_t count = 0;  // pixels to light; 0 when nothing is visible
    int x = 0;               // first visible pixel
    int y = 0;
    bool xMajor = true;
    int majorStep = 1;  // +1 or -1 along the major axis
    int minorStep = 1;  // +1 or -1 along the minor axis
    // Rounding state: the minor coordinate moves by one step whenever the
    // remainder, increased by `remainderStep` per pixel, reaches `remainderWrap`.
    std::int64_t remainder = 0;
    std::int64_t remainderStep = 0;
    std::int64_t remainderWrap = 1;
};

// The walk for the line (x0, y0) -> (x1, y1) clipped to [0, width) x [0, height).
// Coordinates, each within the int range (as LineTo takes them), are used
// exactly as given (see DeviceLineEnds for the adjustments the platform
// makes to very distant end points).
LineWalk ClipLine(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, int width,
                  int height);

// The end points the platform actually rasterises for LineTo from (x0, y0) to
// (x1, y1), reproducing two behaviours of the reference implementation at the
// ends of the int range:
//  - a sloped line with an end point 2^28 or more away from the origin on
//    either axis has that end point divided by 8 (truncating toward zero);
//  - a horizontal or vertical line that starts at INT_MAX on its axis and runs
//    toward smaller coordinates draws nothing.
// Everything else is drawn exactly as given.
struct LineEnds {
    std::int64_t x0, y0, x1, y1;
    bool drawn;
};
LineEnds DeviceLineEnds(int x0, int y0, int x1, int y1);

// Calls plot(x, y) for every pixel of `walk`, in drawing order.
template <typename Plot>
void WalkLine(const LineWalk& walk, Plot&& plot) {
    int x = walk.x;
    int y = walk.y;
    std::int64_t remainder = walk.remainder;
    if (walk.xMajor) {
        for (std::int64_t i = 0; i < walk.count; ++i) {
            plot(x, y);
            x += walk.majorStep;
            remainder += walk.remainderStep;
            if (remainder >= walk.remainderWrap) {
                remainder -= walk.remainderWrap;
                y += walk.minorStep;
            }
        }
    } else {
        for (std::int64_t i = 0; i < walk.count; ++i) {
            plot(x, y);
            y += walk.majorStep;
            remainder += walk.remainderStep;
            if (remainder >= walk.remainderWrap) {
                remainder -= walk.remainderWrap;
                x += walk.minorStep;
            }
        }
    }
}

}  // namespace gdi
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_GDI_LINE_RASTER_H
