// Pixels of a device context: where they are and how colours become pixel
// values.
#ifndef OSTREVANE_PLATFORM_GDI_RASTER_H
#define OSTREVANE_PLATFORM_GDI_RASTER_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "platform/gdi/objects.h"

namespace platform {
namespace gdi {

const std::uint32_t kBlackPixel = 0x00000000;
const std::uint32_t kWhitePixel = 0x00FFFFFF;

// The pixels a device context draws into. `pixels` is null when it has none
// (screen device contexts, detached surfaces, the default bitmap).
struct Target {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    bool mono = false;
    Surface* surface = nullptr;  // told about changes when set
    Bitmap* bitmap = nullptr;    // the bitmap drawn into, if any
};

// The pixels a device context can be read from: as its target, plus the
// default bitmap.
struct Source {
    const std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    bool mono = false;
};

// The pixels of `dc` as they stand. Callers look before they decide how to
// draw; PrepareTarget must follow before anything is written.
Target PeekTarget(const Dc& dc);
// Before pixels of `target` are written: a surface takes its own pixels
// back; surfaces showing a bitmap take a copy of it, and the bitmap is no
// longer all zeros (see Bitmap::zeroed).
void PrepareTarget(const Target& target);
Source ReadSource(const Dc& dc);

// The lazy forms of whole-surface drawing (see surface.h): the surface
// shows `view` (rows `stride` pixels apart, inside `bitmap`), or is to be
// filled with `value`.
void ShowBitmapPart(Surface* surface, HBITMAP handle, Bitmap* bitmap, const std::uint32_t* view,
                    std::size_t stride);
void FillSurfaceLater(Surface* surface, std::uint32_t value);
// Every surface showing part of `bitmap` takes its own copy.
void ReleaseViewers(Bitmap* bitmap);
// The surface no longer shows a bitmap, and keeps no copy of it: for a
// surface going away.
void StopShowing(Surface* surface);

// Tells the surface of `target`, if any, that `area` (already clipped to it)
// changed, and adds it to the written bounds of a bitmap target. Every write
// ends with it. May call out of the graphics layer.
void NotifyChanged(const Target& target, const RECT& area);

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

inline bool RopUsesSource(unsigned code) { return ((code >> 2) & 0x33) != (code & 0x33); }
inline bool RopUsesPattern(unsigned code) { return ((code >> 4) & 0x0F) != (code & 0x0F); }

}  // namespace gdi
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_GDI_RASTER_H
