// How the Wayland display turns what a compositor says into sizes, and how
// its two buffers keep up with what is presented.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/backends/wayland/shm_buffers.h"
#include "platform/backends/wayland/wayland_backend.h"

namespace {

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
    const platform::ClientPixels source{shown.data(), w, w, h, RECT{0, 0, w, h}};
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
    platform::ClientPixels pixels{client.data(), w, w, h, RECT{1, 1, 5, 4}};
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

}  // namespace
