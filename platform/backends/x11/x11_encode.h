// How the X11 display sends a band of client pixels down the socket: as one
// image, or, where that costs fewer bytes, as a fill of the band's dominant
// colour and then each other colour's runs as filled rectangles (one
// PolyFillRectangle per colour, as RFB's RRE encoding does). A frame that is
// a few thousand red pixels on black then costs kilobytes, not megabytes.
// Pure: pixels in, rectangles out, no X.
#ifndef OSTREVANE_PLATFORM_BACKENDS_X11_X11_ENCODE_H
#define OSTREVANE_PLATFORM_BACKENDS_X11_X11_ENCODE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {
namespace x11 {

// A rectangle as PolyFillRectangle carries it (XRectangle's layout).
struct FillRect {
    std::int16_t x, y;
    std::uint16_t width, height;
};

// One colour (0xRRGGBB) and its rectangles: rects[first, first + count).
struct ColourRects {
    std::uint32_t colour;
    std::size_t first;
    std::size_t count;
};

struct BandPlan {
    bool fills = false;            // false: send the band as an image
    std::uint32_t background = 0;  // with fills: the colour of the whole band first
    std::vector<ColourRects> colours;
    std::vector<FillRect> rects;
    std::size_t imageBytes = 0;  // the request bytes of each way
    std::size_t fillBytes = 0;   // (that of the fills only as far as it was counted)
    // Working memory, kept from one band to the next.
    std::vector<std::size_t> scratchOpen, scratchNext, scratchGroup;
    std::vector<std::uint32_t> scratchColours;
    std::vector<FillRect> scratchRects;
};

// Plans rows [0, rows) of `width` pixels (0x00RRGGBB; the top byte is not
// looked at), `stride` pixels apart from `pixels`, for drawing at window
// coordinates (x, y). Window coordinates must fit X's 16 bits. `plan`
// keeps its memory from one band to the next.
void PlanBand(const std::uint32_t* pixels, std::size_t stride, int x, int y, int width, int rows,
              BandPlan* plan);

}  // namespace x11
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_X11_X11_ENCODE_H
