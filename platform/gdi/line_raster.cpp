#include "platform/gdi/line_raster.h"

#include <algorithm>
#include <climits>

namespace platform {
namespace gdi {

namespace {

std::int64_t CeilDiv(std::int64_t numerator, std::int64_t denominator) {
    std::int64_t quotient = numerator / denominator;
    if (numerator % denominator != 0 && numerator > 0) {
        ++quotient;
    }
    return quotient;
}

// The first step whose minor offset, floor((2 i d + c) / (2 n)), reaches
// `offset`: ceil((2 n offset - c) / (2 d)), for 0 <= offset <= d + 1, with
// 0 < d <= n < 2^32 and 0 <= c <= n. The product n * offset (below 2^64) is
// split as q d + r, so that nothing needs more than 64 bits:
// (2 n offset - c) / (2 d) = q + (2 r - c) / (2 d).
std::int64_t FirstStepReaching(std::int64_t offset, std::int64_t n, std::int64_t d,
                               std::int64_t c) {
    const std::uint64_t product = std::uint64_t(n) * std::uint64_t(offset);
    const std::int64_t q = static_cast<std::int64_t>(product / std::uint64_t(d));
    const std::int64_t r = static_cast<std::int64_t>(product % std::uint64_t(d));
    return q + CeilDiv(2 * r - c, 2 * d);
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
    std::int64_t first = majorStep > 0 ? -a0 : a0 - (majorExtent - 1);
    std::int64_t last = majorStep > 0 ? majorExtent - 1 - a0 : a0;
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, n - 1);

    // Minor offsets inside the bitmap, and the steps that produce them (the
    // offset never decreases from one step to the next, and goes from 0 at
    // the first step to at most d at the last).
    const std::int64_t offsetLow =
        std::max<std::int64_t>(minorStep > 0 ? -b0 : b0 - (minorExtent - 1), 0);
    const std::int64_t offsetHigh =
        std::min<std::int64_t>(minorStep > 0 ? minorExtent - 1 - b0 : b0, d);
    if (offsetLow > offsetHigh) {
        return walk;
    }
    if (d != 0) {
        first = std::max(first, FirstStepReaching(offsetLow, n, d, c));
        last = std::min(last, FirstStepReaching(offsetHigh + 1, n, d, c) - 1);
    }
    if (first > last) {
        return walk;
    }

    // The first visible step's minor offset and rounding state: the
    // numerator 2 first d + c, split as above (first d = q n + r).
    const std::uint64_t product = std::uint64_t(first) * std::uint64_t(d);
    const std::int64_t q = static_cast<std::int64_t>(product / std::uint64_t(n));
    const std::int64_t rest = 2 * static_cast<std::int64_t>(product % std::uint64_t(n)) + c;
    const std::int64_t offset = q + rest / (2 * n);
    const std::int64_t major = a0 + majorStep * first;
    const std::int64_t minor = b0 + minorStep * offset;

    walk.count = last - first + 1;
    walk.x = static_cast<int>(xMajor ? major : minor);
    walk.y = static_cast<int>(xMajor ? minor : major);
    walk.xMajor = xMajor;
    walk.majorStep = majorStep;
    walk.minorStep = minorStep;
    walk.remainder = rest % (2 * n);
    walk.remainderStep = 2 * d;
    walk.remainderWrap = 2 * n;
    return walk;
}

}  // namespace gdi
}  // namespace platform
