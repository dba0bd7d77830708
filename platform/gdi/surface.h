// How the window manager lends pixels to the graphics layer.
//
// A window's client area is a Surface owned by the window manager. Device
// contexts made for it draw straight into its pixels and report what they
// changed, so that the back end can show it. The window manager may swap the
// pixel buffer (on resize) at any time between calls, and detaches the
// surface when the window goes away; device contexts still pointing at it
// then draw nothing.
#ifndef OSTREVANE_PLATFORM_GDI_SURFACE_H
#define OSTREVANE_PLATFORM_GDI_SURFACE_H

#include <windows.h>

#include <algorithm>
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
};

// The part of `area` (client coordinates) that lies on the surface's pixels;
// empty (right <= left or bottom <= top) when none does.
inline RECT ClipToSurface(const Surface& surface, const RECT& area) {
    return RECT{std::max<LONG>(0, area.left), std::max<LONG>(0, area.top),
                std::min<LONG>(surface.width, area.right),
                std::min<LONG>(surface.height, area.bottom)};
}

// A device context drawing into `surface`; the surface must stay valid until
// DetachSurface is called for it.
HDC CreateSurfaceDC(Surface* surface);

// Makes every device context made for `surface` draw nothing from now on.
void DetachSurface(Surface* surface);

}  // namespace platform

#endif  // OSTREVANE_PLATFORM_GDI_SURFACE_H
