// The AppKit display: top-level NSWindows through AppKit, the macOS display
// and, with GNUstep's AppKit, one more on Linux (OSTREVANE_BACKEND=appkit).
#ifndef OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_BACKEND_H
#define OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_BACKEND_H

#include <cstdint>
#include <memory>
#include <string>

#include "platform/backends/backend.h"

namespace platform {
namespace appkit {

// Starts the application's AppKit side. On failure returns nullptr and sets
// `error` to a one-line reason. AppKit's own log lines are kept from the
// terminal; if the display is lost later, a line starting with
// `programName` goes to stderr and the program ends with exit code 1.
std::unique_ptr<Backend> OpenAppKit(const std::string& programName, std::string* error);

// What the two sides of the back end exchange, kept apart from AppKit so
// that it is the same on every AppKit (appkit_convert.cpp).

// A rectangle in AppKit's screen coordinates: points, origin at the bottom
// left of the primary screen, y up.
struct CocoaRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// The content rectangle for a client area `rect` in Win32 screen
// coordinates (origin at the top left of the primary screen, y down) on a
// primary screen `primaryHeight` points high. Sides are held to
// 1..kMaxSurfaceSide, corners to +-kMaxCoordinate.
CocoaRect CocoaFromScreenRect(const RECT& rect, double primaryHeight);

// The other way; corners rounded to whole points and held likewise, sides
// to 1..kMaxSurfaceSide. Not-a-number counts as 0.
RECT ScreenRectFromCocoa(const CocoaRect& rect, double primaryHeight);

// A screen of `width` x `height` points, rounded and held to
// 1..kMaxSurfaceSide (a screen AppKit cannot measure counts as 1x1).
void ScreenSizeFromPoints(double width, double height, int* sideX, int* sideY);

// Turns the UTF-16 text of a key press into what Win32 would type: code
// points, surrogate pairs joined (a lone one becomes U+FFFD); AppKit's
// function-key characters (U+F700..U+F8FF) give nothing; Delete (the
// Backspace key) gives backspace and Shift+Tab's back-tab a tab. Writes at most `capacity` code
// points; returns how many.
int CodePointsFromKeyText(const std::uint16_t* units, int count, char32_t* out, int capacity);

// AppKit coordinates beyond this are held to it (a window there is off
// every screen, and doubles stay far from overflowing a LONG).
constexpr int kMaxCoordinate = 1 << 20;

}  // namespace appkit
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_BACKEND_H
