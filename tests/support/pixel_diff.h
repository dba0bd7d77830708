// Pixel-by-pixel comparison of two decoded images, and the report a test
// prints when they differ.
#ifndef OSTREVANE_TESTS_SUPPORT_PIXEL_DIFF_H
#define OSTREVANE_TESTS_SUPPORT_PIXEL_DIFF_H

#include <cstdint>
#include <string>
#include <vector>

// A decoded image: 3 bytes (R, G, B) per pixel, rows top to bottom, no gaps.
struct Image {
    int width = 0;
    int height = 0;
    const unsigned char* rgb = nullptr;

    std::uint32_t At(int x, int y) const;  // 0xRRGGBB
};

struct PixelDifference {
    int x;
    int y;
    std::uint32_t got;       // 0xRRGGBB in the first image
    std::uint32_t expected;  // what the second image says belongs there
};

struct PixelDiff {
    static constexpr std::size_t kListed = 10;

    bool size_mismatch = false;
    long long compared = 0;   // pixels looked at
    long long differing = 0;  // of those, how many differ
    long long lit = 0;        // of those, how many should be lit (non-black)
    int got_width = 0, got_height = 0, expected_width = 0, expected_height = 0;
    std::vector<PixelDifference> first;  // the first kListed differences, row by row

    bool Equal() const { return !size_mismatch && differing == 0; }
};

// `got` and `expected` have the same size and the same pixels.
PixelDiff CompareSame(const Image& got, const Image& expected);

// `client`, a window's client area, shows `canvas` from its top-left corner:
// equal where both reach, and white (the window class's background brush)
// where the client area reaches past the canvas.
PixelDiff CompareWindow(const Image& client, const Image& canvas);

// One summary line, then one line per listed difference.
std::string DescribeDiff(const PixelDiff& diff, const std::string& got_name,
                         const std::string& expected_name);

#endif  // OSTREVANE_TESTS_SUPPORT_PIXEL_DIFF_H
