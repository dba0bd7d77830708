#include "tests/support/pixel_diff.h"

#include <cstdio>

namespace {

const std::uint32_t kWhite = 0xFFFFFF;

// `on_figure`: the expected pixel comes from the drawn image, not from a
// background, so a non-black one counts as lit.
void Record(PixelDiff* diff, int x, int y, std::uint32_t got, std::uint32_t expected,
            bool on_figure) {
    ++diff->compared;
    if (on_figure && expected != 0) {
        ++diff->lit;
    }
    if (got != expected) {
        ++diff->differing;
        if (diff->first.size() < PixelDiff::kListed) {
            diff->first.push_back(PixelDifference{x, y, got, expected});
        }
    }
}

PixelDiff Start(const Image& got, const Image& expected) {
    PixelDiff diff;
    diff.got_width = got.width;
    diff.got_height = got.height;
    diff.expected_width = expected.width;
    diff.expected_height = expected.height;
    return diff;
}

}  // namespace

std::uint32_t Image::At(int x, int y) const {
    const unsigned char* p = rgb + (static_cast<std::size_t>(y) * width + x) * 3;
    return static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
}

PixelDiff CompareSame(const Image& got, const Image& expected) {
    PixelDiff diff = Start(got, expected);
    if (got.width != expected.width || got.height != expected.height) {
        diff.size_mismatch = true;
        return diff;
    }
    for (int y = 0; y < got.height; ++y) {
        for (int x = 0; x < got.width; ++x) {
            Record(&diff, x, y, got.At(x, y), expected.At(x, y), true);
        }
    }
    return diff;
}

PixelDiff CompareWindow(const Image& client, const Image& canvas) {
    PixelDiff diff = Start(client, canvas);
    for (int y = 0; y < client.height; ++y) {
        for (int x = 0; x < client.width; ++x) {
            bool on_canvas = x < canvas.width && y < canvas.height;
            Record(&diff, x, y, client.At(x, y), on_canvas ? canvas.At(x, y) : kWhite, on_canvas);
        }
    }
    return diff;
}

std::string DescribeDiff(const PixelDiff& diff, const std::string& got_name,
                         const std::string& expected_name) {
    char line[512];
    std::string text;
    if (diff.size_mismatch) {
        std::snprintf(line, sizeof(line), "DIFFERENT SIZES: %s is %dx%d, %s is %dx%d\n",
                      got_name.c_str(), diff.got_width, diff.got_height, expected_name.c_str(),
                      diff.expected_width, diff.expected_height);
        return line;
    }
    if (diff.Equal()) {
        std::snprintf(line, sizeof(line), "SAME: %s (%dx%d) against %s: %lld pixels, %lld lit\n",
                      got_name.c_str(), diff.got_width, diff.got_height, expected_name.c_str(),
                      diff.compared, diff.lit);
        return line;
    }
    std::snprintf(line, sizeof(line),
                  "DIFFERENT: %s (%dx%d) against %s: %lld of %lld pixels differ\n",
                  got_name.c_str(), diff.got_width, diff.got_height, expected_name.c_str(),
                  diff.differing, diff.compared);
    text = line;
    for (const PixelDifference& d : diff.first) {
        std::snprintf(line, sizeof(line), "  (%d,%d): #%06X, expected #%06X\n", d.x, d.y,
                      static_cast<unsigned>(d.got), static_cast<unsigned>(d.expected));
        text += line;
    }
    return text;
}
