#include "platform/gdi/line_raster.h"

#include <algorithm>
#include <climits>

namespace platform {
namespace gdi {

namespace {

// Products of two coordinate differences need more than 64 bits.
typedef __int128 Wide;

Wide CeilDiv(Wide numerator, Wide denominator) {
    Wide quotient = numerator / denominator;
    if (numerator % denominator != 0 && numerator > 0) {
        ++quotient;
    }
    return quotient;
}

std::int64_t Abs64(std::int64_t v) { return v < 0 ? -v : v; }

// End points this far from the origin are scaled down before a sloped line is
// rasterised.
const std::int64_t kCropLimit = 0x10000000;

void CropPoint(std::int64_t& x, std::int64_t& y) {
    if (x >= kCropLimit || x <= -kCropLimit || y >= kCropLimit || y <= -kCropLimit) {
        x /= 8;
        y /= 8;
    }
}

}  // namespace

LineEnds DeviceLineEnds(int x0, int y0, int x1, int y1) {
    LineEnds ends{x0, y0, x1, y1, true};
    if (x0 != x1 && y0 != y1) {
        CropPoint(ends.x0, ends.y0);
        CropPoint(ends.x1, ends.y1);
    } else if ((y0 == y1 && x0 == INT_MAX && x1 < x0) || (x0 == x1 && y0 == INT_MAX && y1 < y0)) {
        // The reference implementation turns such a line into a span ending
        // one past INT_MAX, which wraps around and leaves it empty.
        ends.drawn = false;
    }
    return ends;
}

LineWalk ClipLine(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, int width,
                  int height) {
    LineWalk walk;
    const std::int64_t dx = x1 - x0;
    const std::int64_t dy = y1 - y0;
    if ((dx == 0 && dy == 0) || width <= 0 || height <= 0) {
        return walk;
    }

    // Step i (0 <= i < n) lights major = a0 + majorStep * i and
    // minor = b0 + minorStep * floor((2 * i * d + c) / (2 * n)): the exact
    // minor position rounded to nearest. The bias in c sends an exact half
    // to the smaller coordinate whichever way the line runs.
    const bool xMajor = Abs64(dx) > Abs64(dy);
    const std::int64_t majorDelta = xMajor ? dx : dy;
    const std::int64_t minorDelta = xMajor ? dy : dx;
    const std::int64_t n = Abs64(majorDelta);
    const std::int64_t d = Abs64(minorDelta);
    const int majorStep = majorDelta > 0 ? 1 : -1;
    const int minorStep = minorDelta < 0 ? -1 : 1;
    const std::int64_t c = n - 1 + (minorDelta < 0 ? 1 : 0);
    const std::int64_t a0 = xMajor ? x0 : y0;
    const std::int64_t b0 = xMajor ? y0 : x0;
    const std::int64_t majorExtent = xMajor ? width : height;
    const std::int64_t minorExtent = xMajor ? height : width;

    // Most lines lie wholly inside the bitmap: both ends inside means every
    // step is, and the walk starts at the first pixel with no clipping.
    if (x0 >= 0 && x0 < width && y0 >= 0 && y0 < height && x1 >= 0 && x1 < width && y1 >= 0 &&
        y1 < height) {
        walk.count = n;
        walk.x = static_cast<int>(x0);
        walk.y = static_cast<int>(y0);
        walk.xMajor = xMajor;
        walk.majorStep = majorStep;
        walk.minorStep = minorStep;
        walk.remainder = c;  // below 2n: the first pixel is the start itself
        walk.remainderStep = 2 * d;
        walk.remainderWrap = 2 * n;
        return walk;
    }

    // Steps whose major coordinate is inside the bitmap.
    Wide first = majorStep > 0 ? -a0 : a0 - (majorExtent - 1);
    Wide last = majorStep > 0 ? majorExtent - 1 - a0 : a0;
    first = std::max<Wide>(first, 0);
    last = std::min<Wide>(last, n - 1);

    // Minor offsets inside the bitmap, and the steps that produce them (the
    // offset never decreases from one step to the next).
    const Wide offsetLow = minorStep > 0 ? -b0 : b0 - (minorExtent - 1);
    const Wide offsetHigh = minorStep > 0 ? minorExtent - 1 - b0 : b0;
    if (d == 0) {
        if (offsetLow > 0 || offsetHigh < 0) {
            return walk;
        }
    } else {
        const Wide twoN = Wide(2) * n;
        const Wide twoD = Wide(2) * d;
        first = std::max(first, CeilDiv(twoN * offsetLow - c, twoD));
        last = std::min(last, CeilDiv(twoN * (offsetHigh + 1) - c, twoD) - 1);
    }
    if (first > last) {
        return walk;
    }

    const Wide numerator = Wide(2) * first * d + c;
    const Wide wrap = Wide(2) * n;
    const std::int64_t offset = static_cast<std::int64_t>(numerator / wrap);
    const std::int64_t major = a0 + majorStep * static_cast<std::int64_t>(first);
    const std::int64_t minor = b0 + minorStep * offset;

    walk.count = static_cast<std::int64_t>(last - first + 1);
    walk.x = static_cast<int>(xMajor ? major : minor);
    walk.y = static_cast<int>(xMajor ? minor : major);
    walk.xMajor = xMajor;
    walk.majorStep = majorStep;
    walk.minorStep = minorStep;
    walk.remainder = static_cast<std::int64_t>(numerator % wrap);
    walk.remainderStep = 2 * d;
    walk.remainderWrap = 2 * n;
    return walk;
}

}  // namespace gdi
}  // namespace platform
