// How the window manager lends pixels to the graphics layer.
//
// A window's client area is a Surface owned by the window manager. Device
// contexts made for it draw straight into its pixels and report what they
// changed, so that the back end can show it. The window manager may swap the
// pixel buffer (on resize) at any time between calls, and detaches the
// surface when the window goes away; device contexts still pointing at it
// then draw nothing.
//
// Two things keep the writing of a surface's pixels to what is needed, since
// a window's paint usually overwrites them straight away (the background
// erase before a full copy of a canvas), and writing several megabytes of
// fresh memory costs more than anything else at start:
//  - a fill of the whole surface with one colour is remembered
//    (`fillPending`) until something else draws or the surface is read;
//  - the surface knows where its pixels may be other than 0 (`inked`), so
//    that a copy from a bitmap writes only the bitmap's drawn tiles and
//    clears only what was there before, and readers skip the rest.
// Readers therefore go through SurfaceRow, on a settled surface (no fill
// pending); the window manager settles a surface as it presents it, the
// only time a back end reads its pixels.
#ifndef OSTREVANE_PLATFORM_GDI_SURFACE_H
#define OSTREVANE_PLATFORM_GDI_SURFACE_H

#include <windows.h>

#include <algorithm>
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

    // Kept by the GDI; see above.
    bool fillPending = false;
    std::uint32_t fillValue = 0;
    // Outside this rectangle (clipped to the surface) every pixel in
    // `pixels` is 0, black. Whoever hands the GDI pixels it knows to be all
    // 0 may say so by making it empty.
    RECT inked = {0, 0, 0x7FFFFFFF, 0x7FFFFFFF};
};

// Row `y` of what the surface shows, `width` pixels.
inline const std::uint32_t* SurfaceRow(const Surface& surface, int y) {
    return surface.pixels + static_cast<std::size_t>(y) * surface.width;
}

// The part of the surface whose pixels may be other than 0 (black).
inline RECT SurfaceInk(const Surface& surface) {
    RECT ink = {std::max<LONG>(surface.inked.left, 0), std::max<LONG>(surface.inked.top, 0),
                std::min<LONG>(surface.inked.right, surface.width),
                std::min<LONG>(surface.inked.bottom, surface.height)};
    return ink.left < ink.right && ink.top < ink.bottom ? ink : RECT{0, 0, 0, 0};
}

// Pixels from one row to the next in SurfaceRow.
inline std::size_t SurfaceStride(const Surface& surface) {
    return static_cast<std::size_t>(surface.width);
}

// A device context drawing into `surface`; the surface must stay valid until
// DetachSurface is called for it.
HDC CreateSurfaceDC(Surface* surface);

// Makes every device context made for `surface` draw nothing from now on.
void DetachSurface(Surface* surface);

// Writes a pending fill into the surface's own pixels.
void SettleSurface(Surface* surface);

// Makes the surface's own pixels hold what it shows: writes a pending fill.
// Needed before the pixel buffer is read directly, replaced or resized.
void OwnSurfacePixels(Surface* surface);

}  // namespace platform

#endif  // OSTREVANE_PLATFORM_GDI_SURFACE_H
