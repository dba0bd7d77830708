// How the window manager lends pixels to the graphics layer.
//
// A window's client area is a Surface owned by the window manager. Device
// contexts made for it draw straight into its pixels and report what they
// changed, so that the back end can show it. The window manager may swap the
// pixel buffer (on resize) at any time between calls, and detaches the
// surface when the window goes away; device contexts still pointing at it
// then draw nothing.
//
// Two kinds of drawing are not written into the surface's own pixels at
// once, because a window's paint usually overwrites them straight away (the
// background erase before a full copy of a canvas), and writing several
// megabytes of fresh memory costs more than anything else at start:
//  - a fill of the whole surface with one colour is remembered
//    (`fillPending`) until something else draws or the surface is read;
//  - a plain copy that covers the whole surface from a bitmap makes the
//    surface show that part of the bitmap in place (`view`), until either
//    is drawn on, the bitmap is deleted or the surface is resized.
// Readers therefore go through SurfaceRow, on a settled surface (no fill
// pending); the window manager settles a surface as it presents it, the
// only time a back end reads its pixels.
#ifndef OSTREVANE_PLATFORM_GDI_SURFACE_H
#define OSTREVANE_PLATFORM_GDI_SURFACE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace platform {

struct Surface {
    // 0x00RRGGBB per pixel, rows top to bottom, `width` pixels per row.
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    // Told the rectangle (clipped to the surface) after each drawing call.
    void (*changed)(void* context, const RECT& area) = nullptr;
    void* context = nullptr;

    // Kept by the GDI; see above. While `view` is set, row y is at
    // view + y * viewStride, inside the bitmap `viewOf`.
    const std::uint32_t* view = nullptr;
    std::size_t viewStride = 0;
    HBITMAP viewOf = nullptr;
    bool fillPending = false;
    std::uint32_t fillValue = 0;
    // While `view` is set: outside this rectangle (surface coordinates)
    // every pixel shown is 0, black, and need not be read. Empty when all
    // of it is.
    RECT viewWritten = {0, 0, 0, 0};
};

// Row `y` of what the surface shows, `width` pixels.
inline const std::uint32_t* SurfaceRow(const Surface& surface, int y) {
    return surface.view != nullptr ? surface.view + static_cast<std::size_t>(y) * surface.viewStride
                                   : surface.pixels + static_cast<std::size_t>(y) * surface.width;
}

// The part of the surface whose pixels may be other than 0 (black): the
// whole surface, or less where it shows a bitmap that is black outside it.
inline RECT SurfaceInk(const Surface& surface) {
    return surface.view != nullptr ? surface.viewWritten
                                   : RECT{0, 0, surface.width, surface.height};
}

// Pixels from one row to the next in SurfaceRow.
inline std::size_t SurfaceStride(const Surface& surface) {
    return surface.view != nullptr ? surface.viewStride : static_cast<std::size_t>(surface.width);
}

// A device context drawing into `surface`; the surface must stay valid until
// DetachSurface is called for it.
HDC CreateSurfaceDC(Surface* surface);

// Makes every device context made for `surface` draw nothing from now on.
void DetachSurface(Surface* surface);

// Writes a pending fill into the surface's own pixels.
void SettleSurface(Surface* surface);

// Makes the surface's own pixels hold what it shows: writes a pending fill
// and copies a viewed bitmap's part in. Needed before the pixel buffer is
// read directly, replaced or resized.
void OwnSurfacePixels(Surface* surface);

}  // namespace platform

#endif  // OSTREVANE_PLATFORM_GDI_SURFACE_H
