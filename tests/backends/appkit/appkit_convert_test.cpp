// The AppKit display's coordinates and key text, without AppKit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/backends/appkit/appkit_backend.h"

namespace {

TEST(AppKitConvertTest, ScreenRectanglesBothWays) {
    using platform::appkit::CocoaFromScreenRect;
    using platform::appkit::CocoaRect;
    using platform::appkit::ScreenRectFromCocoa;
    const int kMax = platform::kMaxSurfaceSide;
    const int kFar = platform::appkit::kMaxCoordinate;
    struct Row {
        RECT win32;
        double primaryHeight;
        CocoaRect cocoa;
    };
    // Win32 counts down from the primary screen's top, AppKit up from its
    // bottom; held sides and corners either way.
    for (const Row& row : std::vector<Row>{
             {{0, 0, 600, 450}, 600, {0, 150, 600, 450}},
             {{37, 23, 248, 120}, 768, {37, 648, 211, 97}},
             {{-50, -20, 50, 80}, 600, {-50, 520, 100, 100}},   // above and left of it
             {{10, 700, 110, 800}, 600, {10, -200, 100, 100}},  // below it
             {{0, 0, 1, 1}, 0, {0, -1, 1, 1}},
         }) {
        CocoaRect cocoa = CocoaFromScreenRect(row.win32, row.primaryHeight);
        EXPECT_EQ(cocoa.x, row.cocoa.x);
        EXPECT_EQ(cocoa.y, row.cocoa.y);
        EXPECT_EQ(cocoa.width, row.cocoa.width);
        EXPECT_EQ(cocoa.height, row.cocoa.height);
        RECT back = ScreenRectFromCocoa(cocoa, row.primaryHeight);
        EXPECT_EQ(back.left, row.win32.left);
        EXPECT_EQ(back.top, row.win32.top);
        EXPECT_EQ(back.right, row.win32.right);
        EXPECT_EQ(back.bottom, row.win32.bottom);
    }
    // Hostile rectangles: empty, inverted, huge, at the ends of LONG.
    CocoaRect held = CocoaFromScreenRect({5, 5, 5, -7}, 600);
    EXPECT_EQ(held.width, 1);
    EXPECT_EQ(held.height, 1);
    held = CocoaFromScreenRect({-0x7FFFFFFF - 1, -0x7FFFFFFF - 1, 0x7FFFFFFF, 0x7FFFFFFF}, 1e300);
    EXPECT_EQ(held.width, kMax);
    EXPECT_EQ(held.x, -kFar);
    EXPECT_LE(held.y, kFar);
    // What AppKit may answer: fractions, not-a-number, far away.
    RECT rect = ScreenRectFromCocoa({10.4, 20.6, 99.5, 0.2}, 600.0);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.right - rect.left, 100);
    EXPECT_EQ(rect.bottom - rect.top, 1);
    rect = ScreenRectFromCocoa({NAN, NAN, NAN, 1e300}, NAN);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.right - rect.left, 1);
    EXPECT_EQ(rect.bottom - rect.top, kMax);
    rect = ScreenRectFromCocoa({-1e300, 1e300, 1e300, -1e300}, 600);
    EXPECT_EQ(rect.left, -kFar);
    EXPECT_EQ(rect.right - rect.left, kMax);
    EXPECT_GE(rect.top, -2 * kFar);

    int w = 0;
    int h = 0;
    platform::appkit::ScreenSizeFromPoints(1440.0, 899.6, &w, &h);
    EXPECT_EQ(w, 1440);
    EXPECT_EQ(h, 900);
    platform::appkit::ScreenSizeFromPoints(NAN, -5, &w, &h);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    platform::appkit::ScreenSizeFromPoints(1e300, 40000, &w, &h);
    EXPECT_EQ(w, kMax);
    EXPECT_EQ(h, kMax);
}

TEST(AppKitConvertTest, KeyTextAsCodePoints) {
    struct Row {
        std::u16string typed;
        std::u32string chars;
    };
    for (const Row& row : std::vector<Row>{
             {u"a", U"a"},
             {u"\u00e9\u20ac", U"\u00e9\u20ac"},  // beyond Windows-1252 is the WM's to map
             {u"\U0001F600", U"\U0001F600"},      // a surrogate pair
             {u"\xD83D", U"\xFFFD"},              // a lone surrogate
             {u"\xDE00x", U"\xFFFDx"},
             {u"\x7F", U"\b"},                // the Backspace key
             {u"\x19", U"\t"},                // Shift+Tab
             {u"\r\x1B\x03", U"\r\x1B\x03"},  // Return, Escape, Ctrl+C
             {u"\xF700\xF704\xF728", U""},    // arrows, F1, forward Delete
             {u"", U""},
         }) {
        char32_t out[4] = {};
        int n = platform::appkit::CodePointsFromKeyText(
            reinterpret_cast<const std::uint16_t*>(row.typed.data()),
            static_cast<int>(row.typed.size()), out, 4);
        EXPECT_EQ(std::u32string(out, static_cast<std::size_t>(n)), row.chars);
    }
    // No more than the room given.
    const std::u16string many = u"abcdefgh";
    char32_t out[3] = {};
    EXPECT_EQ(platform::appkit::CodePointsFromKeyText(
                  reinterpret_cast<const std::uint16_t*>(many.data()), 8, out, 3),
              3);
    EXPECT_EQ(out[2], U'c');
}

}  // namespace
