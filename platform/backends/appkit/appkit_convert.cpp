// Coordinates and key text between AppKit and the window manager; see
// appkit_backend.h.
#include <algorithm>
#include <cmath>

#include "platform/backends/appkit/appkit_backend.h"

namespace platform {
namespace appkit {

namespace {

double Held(double value, double low, double high) {
    if (std::isnan(value)) {
        return low > 0 ? low : 0;
    }
    return std::min(std::max(value, low), high);
}

LONG Whole(double value, double low, double high) {
    return static_cast<LONG>(std::lround(Held(value, low, high)));
}

}  // namespace

CocoaRect CocoaFromScreenRect(const RECT& rect, double primaryHeight) {
    const double limit = kMaxCoordinate;
    CocoaRect cocoa;
    cocoa.width = Held(static_cast<double>(rect.right) - rect.left, 1, kMaxSurfaceSide);
    cocoa.height = Held(static_cast<double>(rect.bottom) - rect.top, 1, kMaxSurfaceSide);
    cocoa.x = Held(rect.left, -limit, limit);
    // The bottom edge, measured up from the primary screen's bottom.
    cocoa.y = Held(Held(primaryHeight, 0, limit) - rect.top - cocoa.height, -limit, limit);
    return cocoa;
}

RECT ScreenRectFromCocoa(const CocoaRect& rect, double primaryHeight) {
    const double limit = kMaxCoordinate;
    LONG width = Whole(rect.width, 1, kMaxSurfaceSide);
    LONG height = Whole(rect.height, 1, kMaxSurfaceSide);
    LONG left = Whole(rect.x, -limit, limit);
    LONG top = Whole(Held(primaryHeight, 0, limit) - Held(rect.y, -limit, limit) - height,
                     -2 * limit, 2 * limit);
    return RECT{left, top, left + width, top + height};
}

void ScreenSizeFromPoints(double width, double height, int* sideX, int* sideY) {
    *sideX = static_cast<int>(Whole(width, 1, kMaxSurfaceSide));
    *sideY = static_cast<int>(Whole(height, 1, kMaxSurfaceSide));
}

int CodePointsFromKeyText(const std::uint16_t* units, int count, char32_t* out, int capacity) {
    int written = 0;
    for (int i = 0; i < count && written < capacity; ++i) {
        char32_t unit = units[i];
        char32_t point = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            point = 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            point = 0xFFFD;
        } else if (unit >= 0xF700 && unit <= 0xF8FF) {
            continue;  // arrows, function keys, Home, forward Delete...
        } else if (unit == 0x7F) {
            point = 0x08;
        } else if (unit == 0x19) {
            point = 0x09;
        }
        out[written++] = point;
    }
    return written;
}

}  // namespace appkit
}  // namespace platform
