// Pixels of a device context: where they are and how colours become pixel
// values.
#ifndef OSTREVANE_PLATFORM_GDI_RASTER_H
#define OSTREVANE_PLATFORM_GDI_RASTER_H

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/gdi/objects.h"
#include "platform/gdi/tiles.h"

namespace platform {
namespace gdi {

const std::uint32_t kBlackPixel = 0x00000000;
const std::uint32_t kWhitePixel = 0x00FFFFFF;

// The pixels a device context draws into: a surface's flat rows
// (`pixels`) or a bitmap's tiles. Neither is set when it has none (screen
// device contexts, detached surfaces, the default bitmap).
struct Target {
    std::uint32_t* pixels = nullptr;
    TiledPixels* tiles = nullptr;
    int width = 0;
    int height = 0;
    bool mono = false;
    Surface* surface = nullptr;  // told about changes when set
    bool Drawable() const { return pixels != nullptr || tiles != nullptr; }
};

// The pixels a device context can be read from: as its target, plus the
// default bitmap.
struct Source {
    const std::uint32_t* pixels = nullptr;
    const TiledPixels* tiles = nullptr;
    int width = 0;
    int height = 0;
    bool mono = false;
    bool Readable() const { return pixels != nullptr || tiles != nullptr; }
    std::uint32_t Get(int x, int y) const {
        return tiles != nullptr
                   ? tiles->Get(x, y)
                   : pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x];
    }
};

// Pixels x .. x + n - 1 of row y of `target`, with n at most `limit` - x;
// the tiles there must have been made writable.
inline std::uint32_t* WriteSpan(const Target& target, int x, int y, int limit, int* n) {
    if (target.tiles != nullptr) {
        *n = std::min(limit, (x | kTileMask) + 1) - x;
        return target.tiles->Writable(x, y);
    }
    *n = limit - x;
    return target.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(target.width) + x;
}

// Pixels x .. x + n - 1 of row y of `source`, n at most `limit` - x; a
// one-colour tile's are put in `buffer` (kTileSide pixels).
inline const std::uint32_t* ReadSpan(const Source& source, int x, int y, int limit, int* n,
                                     std::uint32_t* buffer) {
    if (source.tiles != nullptr) {
        return source.tiles->ReadSpan(x, y, limit, n, buffer);
    }
    *n = limit - x;
    return source.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(source.width) + x;
}

// The pixels of `dc` as they stand. Callers look before they decide how to
// draw; PrepareTarget must follow before anything is written.
Target PeekTarget(const Dc& dc);
// Before pixels of `target` are written: a surface writes a pending fill.
void PrepareTarget(const Target& target);
Source ReadSource(const Dc& dc);

// The lazy fill of a whole surface (see surface.h): the surface is to be
// filled with `value`.
void FillSurfaceLater(Surface* surface, std::uint32_t value);

// Tells the surface of `target`, if any, that `area` (already clipped to it)
// changed, and that its pixels there may now be other than 0. Every write
// ends with it. May call out of the graphics layer.
void NotifyChanged(const Target& target, const RECT& area);
// The same report, for a change not yet written into the pixels.
void ReportChanged(const Target& target, const RECT& area);

std::uint32_t PixelFromRgb(COLORREF rgb);
COLORREF RgbFromPixel(std::uint32_t pixel);

// A pen's colour as a pixel of the target.
std::uint32_t PenPixel(COLORREF colour, bool mono);

// A solid brush as seen by a target: one pixel value, or for monochrome
// targets and colours other than black and white, an 8x8 ordered dither
// aligned to the device origin.
class BrushPattern {
public:
    BrushPattern(COLORREF colour, bool mono);
    bool Uniform() const { return uniform_; }
    std::uint32_t At(int x, int y) const;

private:
    bool uniform_ = true;
    std::uint32_t pixel_ = 0;
    int grey_ = 0;
};

// Sets `count` pixels from `pixels` on to `value`, as fast as the machine
// fills memory.
void FillPixels(std::uint32_t* pixels, std::size_t count, std::uint32_t value);

// The result of the raster operation `code` (the index byte of a ternary ROP)
// for pattern, source and destination pixels.
inline std::uint32_t ApplyRop3(unsigned code, std::uint32_t p, std::uint32_t s, std::uint32_t d) {
    std::uint32_t result = 0;
    for (unsigned term = 0; term < 8; ++term) {
        if ((code >> term) & 1) {
            result |= ((term & 4) ? p : ~p) & ((term & 2) ? s : ~s) & ((term & 1) ? d : ~d);
        }
    }
    return result & 0x00FFFFFF;
}

// A raster operation with its pattern and source fixed, as a function of the
// destination alone: each bit of the result is 0, 1, the destination's bit
// or its inverse, so result = (d & ones) | (~d & zeros).
struct DestinationRop {
    DestinationRop(unsigned code, std::uint32_t p, std::uint32_t s)
        : ones(ApplyRop3(code, p, s, 0x00FFFFFF)), zeros(ApplyRop3(code, p, s, 0)) {}
    std::uint32_t operator()(std::uint32_t d) const {
        return ((d & ones) | (~d & zeros)) & 0x00FFFFFF;
    }
    std::uint32_t ones;
    std::uint32_t zeros;
};

inline bool RopUsesSource(unsigned code) { return ((code >> 2) & 0x33) != (code & 0x33); }
inline bool RopUsesPattern(unsigned code) { return ((code >> 4) & 0x0F) != (code & 0x0F); }

}  // namespace gdi
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_GDI_RASTER_H
