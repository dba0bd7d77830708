// Which display the desktop entry point opens, how the Wayland display
// turns what a compositor says into sizes, and how its two buffers keep up.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/backends/desktop/display_choice.h"
#if OSTREVANE_HAVE_WAYLAND
#include "platform/backends/wayland/shm_buffers.h"
#include "platform/backends/wayland/wayland_backend.h"
#endif

namespace {

using platform::desktop::ChooseDisplays;
using platform::desktop::DisplayChoice;
using platform::desktop::DisplayKind;

const std::vector<DisplayKind> kWaylandFirst = {DisplayKind::kWayland, DisplayKind::kX11};
const std::vector<DisplayKind> kX11Only = {DisplayKind::kX11};

DisplayChoice Choose(const char* forced, const char* waylandDisplay, const char* runtimeDir,
                     std::set<std::string> paths = {}, bool built = true) {
    return ChooseDisplays(forced, waylandDisplay, runtimeDir, built,
                          [paths](const std::string& path) { return paths.count(path) != 0; });
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
    platform::Surface source;
    source.pixels = shown.data();
    source.width = w;
    source.height = h;
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
#endif

}  // namespace
