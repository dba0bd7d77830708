// Which display the desktop entry point opens, how the Wayland display
// turns what a compositor says into sizes, and how its two buffers keep up.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/backends/desktop/display_choice.h"
#if OSTREVANE_HAVE_WAYLAND
#include "platform/backends/wayland/shm_buffers.h"
#include "platform/backends/wayland/wayland_backend.h"
#endif
#if OSTREVANE_HAVE_APPKIT
#include "platform/backends/appkit/appkit_backend.h"
#endif

namespace {

using platform::desktop::ChooseDisplays;
using platform::desktop::DisplayChoice;
using platform::desktop::DisplayKind;

const std::vector<DisplayKind> kWaylandFirst = {DisplayKind::kWayland, DisplayKind::kX11};
const std::vector<DisplayKind> kX11Only = {DisplayKind::kX11};

DisplayChoice Choose(const char* forced, const char* waylandDisplay, const char* runtimeDir,
                     std::set<std::string> paths = {}, bool built = true, bool appkit = false) {
    return ChooseDisplays(
        forced, waylandDisplay, runtimeDir, built,
        [paths](const std::string& path) { return paths.count(path) != 0; }, appkit);
}

TEST(DisplayChoiceTest, WaylandWhenACompositorIsReachableThenX11) {
    EXPECT_EQ(Choose(nullptr, "wayland-1", "/run/user/1000").order, kWaylandFirst);
    EXPECT_EQ(Choose(nullptr, "/abs/socket", nullptr).order, kWaylandFirst);
    // libwayland's default socket.
    EXPECT_EQ(Choose(nullptr, nullptr, "/run/user/1000", {"/run/user/1000/wayland-0"}).order,
              kWaylandFirst);
    EXPECT_EQ(Choose("", "", "/run/user/1000", {"/run/user/1000/wayland-0"}).order, kWaylandFirst);
    for (const DisplayChoice& choice :
         {Choose(nullptr, nullptr, nullptr), Choose("", "", ""),
          Choose(nullptr, nullptr, "/run/user/1000", {"/run/user/1000/wayland-1"})}) {
        EXPECT_EQ(choice.order, kX11Only);
        EXPECT_TRUE(choice.error.empty());
        // Why Wayland was not tried ends up in the one-line error.
        EXPECT_NE(choice.waylandSkipped.find("WAYLAND_DISPLAY"), std::string::npos);
    }
}

TEST(DisplayChoiceTest, OstrevaneBackendForcesOneOrIsRefused) {
    EXPECT_EQ(Choose("x11", "wayland-0", "/run", {"/run/wayland-0"}).order, kX11Only);
    EXPECT_EQ(Choose("wayland", nullptr, nullptr).order,
              std::vector<DisplayKind>{DisplayKind::kWayland});
    EXPECT_TRUE(Choose("x11", nullptr, nullptr).waylandSkipped.empty());
    for (const char* wrong : {"X11", "wayland ", "mir", "headless"}) {
        DisplayChoice choice = Choose(wrong, "wayland-0", nullptr);
        EXPECT_TRUE(choice.order.empty()) << wrong;
        EXPECT_NE(choice.error.find(std::string("\"") + wrong + "\""), std::string::npos);
    }
    // A build without Wayland: X11 always, and forcing Wayland is an error.
    EXPECT_EQ(Choose(nullptr, "wayland-0", nullptr, {}, false).order, kX11Only);
    DisplayChoice forced = Choose("wayland", "wayland-0", nullptr, {}, false);
    EXPECT_TRUE(forced.order.empty());
    EXPECT_FALSE(forced.error.empty());
    // AppKit only by name, and only in builds with it.
    EXPECT_EQ(Choose("appkit", "wayland-0", nullptr, {}, true, true).order,
              std::vector<DisplayKind>{DisplayKind::kAppKit});
    EXPECT_EQ(Choose(nullptr, "wayland-0", nullptr, {}, true, true).order, kWaylandFirst);
    EXPECT_NE(Choose("appkit", nullptr, nullptr).error.find("no AppKit"), std::string::npos);
    EXPECT_NE(Choose("AppKit", nullptr, nullptr, {}, true, true).error.find("appkit, wayland"),
              std::string::npos);
}

#if OSTREVANE_HAVE_WAYLAND
TEST(WaylandSizesTest, ConfigureSizesKeepOrHoldTheClientArea) {
    using platform::wayland::ConfiguredSide;
    EXPECT_EQ(ConfiguredSide(0, 600), 600);  // the client chooses
    EXPECT_EQ(ConfiguredSide(301, 600), 301);
    EXPECT_EQ(ConfiguredSide(-5, 600), 1);
    EXPECT_EQ(ConfiguredSide(0x7FFFFFFF, 600), 16384);
    EXPECT_EQ(ConfiguredSide(-0x7FFFFFFF - 1, 600), 1);
    EXPECT_EQ(ConfiguredSide(0, 0), 1);
    EXPECT_EQ(ConfiguredSide(0, 99999), 16384);
}

TEST(WaylandSizesTest, OutputsInLogicalPixels) {
    using platform::wayland::LogicalOutputSize;
    int w = -1;
    int h = -1;
    // xdg-output's logical size wins over the mode.
    LogicalOutputSize(1280, 720, 2560, 1440, 0, 2, &w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    // Otherwise the mode over the scale, turned by the transform.
    LogicalOutputSize(0, 0, 2560, 1440, 0, 2, &w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    LogicalOutputSize(0, 0, 1920, 1080, 1 /* 90 degrees */, 1, &w, &h);
    EXPECT_EQ(w, 1080);
    EXPECT_EQ(h, 1920);
    LogicalOutputSize(0, 0, 1023, 767, 0, 2, &w, &h);  // rounded up
    EXPECT_EQ(w, 512);
    EXPECT_EQ(h, 384);
    // Hostile values: no scale, negative sizes, beyond the largest client area.
    LogicalOutputSize(0, 0, 800, 600, 0, 0, &w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
    LogicalOutputSize(0, 0, 800, 600, 0, -3, &w, &h);
    EXPECT_EQ(w, 800);
    LogicalOutputSize(-1, 5, 0x7FFFFFFF, 0x7FFFFFFF, 0, 1, &w, &h);
    EXPECT_EQ(w, 16384);
    EXPECT_EQ(h, 16384);
    LogicalOutputSize(0, 0, 0, 0, 0, 1, &w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    LogicalOutputSize(0, 0, -800, 600, 0, 1, &w, &h);
    EXPECT_EQ(w, 0);
}
// Two partial updates in a row: each buffer, chosen again, gets what the
// other one showed meanwhile as well as the new damage.
TEST(WaylandShmBuffersTest, EachBufferCatchesUpWithTheOther) {
    using namespace platform::wayland;
    const int w = 8;
    const int h = 6;
    std::vector<std::uint32_t> shown(w * h, 0x111111);
    std::vector<std::uint32_t> memory[kBuffersPerWindow] = {std::vector<std::uint32_t>(w * h),
                                                            std::vector<std::uint32_t>(w * h)};
    platform::ClientPixels source;
    source.rows = shown.data();
    source.stride = w;
    source.width = w;
    source.height = h;
    source.ink = RECT{0, 0, w, h};
    ShmBuffer buffers[kBuffersPerWindow];
    ShmBuffer* before = nullptr;
    for (const RECT& area :
         {RECT{0, 0, w, h}, RECT{1, 1, 3, 3}, RECT{4, 2, 7, 5}, RECT{0, 5, 2, 6}}) {
        for (LONG y = area.top; y < area.bottom; ++y) {
            for (LONG x = area.left; x < area.right; ++x) {
                shown[y * w + x] += 0x010203;
            }
        }
        ShmBuffer* chosen = PickBuffer(buffers, w, h);
        ASSERT_NE(chosen, nullptr);
        if (chosen->pixels == nullptr) {
            chosen->pixels = memory[chosen - buffers].data();
            chosen->width = w;
            chosen->height = h;
        }
        FillBuffer(buffers, chosen, source, area);
        for (int i = 0; i < w * h; ++i) {
            ASSERT_EQ(chosen->pixels[i], shown[i] | 0xFF000000u) << "pixel " << i;
        }
        // The compositor holds the buffer it shows, and releases the other.
        chosen->busy = true;
        EXPECT_NE(chosen, before);
        if (before != nullptr) {
            before->busy = false;
        }
        before = chosen;
    }
    // Both held: nothing to fill. Another size: both dropped, one to make.
    buffers[0].busy = buffers[1].busy = true;
    EXPECT_EQ(PickBuffer(buffers, w, h), nullptr);
    ShmBuffer* resized = PickBuffer(buffers, w + 1, h);
    ASSERT_NE(resized, nullptr);
    EXPECT_EQ(resized->pixels, nullptr);
}

// Present copies at once: what the window manager changes afterwards never
// shows. While the compositor holds both buffers the window keeps a copy of
// its own, which the next commit shows; outside the ink nothing is read.
TEST(WaylandShmBuffersTest, PresentedPixelsAreCopiedAtOnce) {
    using namespace platform::wayland;
    const int w = 6;
    const int h = 5;
    std::vector<std::uint32_t> client(w * h, 0xBAD);  // beyond the ink: never read
    std::vector<std::uint32_t> expected(w * h, 0xFF000000u);
    std::vector<std::uint32_t> memory[kBuffersPerWindow] = {std::vector<std::uint32_t>(w * h),
                                                            std::vector<std::uint32_t>(w * h)};
    WindowBuffers window;
    BufferMaker make = [&](ShmBuffer* buffer, int width, int height, std::string*) {
        buffer->pixels = memory[buffer - window.slots].data();
        buffer->width = width;
        buffer->height = height;
        return true;
    };
    platform::ClientPixels pixels;
    pixels.rows = client.data();
    pixels.stride = w;
    pixels.width = w;
    pixels.height = h;
    pixels.ink = RECT{1, 1, 5, 4};
    std::uint32_t colour = 0x10;
    std::string error;
    RECT damage = {};
    // Presents `area` (inside the ink) in a new colour.
    auto present = [&](const RECT& area) {
        for (LONG y = area.top; y < area.bottom; ++y) {
            for (LONG x = area.left; x < area.right; ++x) {
                client[y * w + x] = colour;
                expected[y * w + x] = colour | 0xFF000000u;
            }
        }
        ++colour;
        EXPECT_TRUE(window.Store(pixels, area, make, &error));
    };
    auto shows = [&](const ShmBuffer* buffer) {
        return std::vector<std::uint32_t>(buffer->pixels, buffer->pixels + w * h) == expected;
    };
    present(RECT{1, 1, 5, 4});
    ShmBuffer* first = window.TakeForCommit(make, &damage, &error);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(shows(first));
    present(RECT{1, 1, 2, 2});
    ShmBuffer* second = window.TakeForCommit(make, &damage, &error);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_TRUE(shows(second));
    // Both held: presented twice, then changed without being presented.
    present(RECT{3, 2, 4, 3});
    present(RECT{2, 3, 3, 4});
    const std::vector<std::uint32_t> presented = client;
    client.assign(client.size(), 0xBAD);
    EXPECT_EQ(window.TakeForCommit(make, &damage, &error), nullptr);
    first->busy = false;
    EXPECT_EQ(window.TakeForCommit(make, &damage, &error), first);
    EXPECT_TRUE(shows(first));
    EXPECT_TRUE(damage.left == 2 && damage.top == 2 && damage.right == 4 && damage.bottom == 4);
    EXPECT_EQ(window.pending, nullptr);
    // The other one, free again, catches up with what it missed.
    client = presented;
    second->busy = false;
    present(RECT{4, 1, 5, 2});
    EXPECT_EQ(window.TakeForCommit(make, &damage, &error), second);
    EXPECT_TRUE(shows(second));
    // Nothing new: no commit. A buffer that cannot be made says why.
    EXPECT_EQ(window.TakeForCommit(make, &damage, &error), nullptr);
    EXPECT_TRUE(error.empty());
    WindowBuffers other;
    pixels.width = 3;
    EXPECT_FALSE(other.Store(
        pixels, RECT{0, 0, 1, 1},
        [](ShmBuffer*, int, int, std::string* why) {
            *why = "no memory";
            return false;
        },
        &error));
    EXPECT_EQ(error, "no memory");
}

#endif

#if OSTREVANE_HAVE_APPKIT
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
#endif

}  // namespace
