// The whole-surface fill that is not written at once: see surface.h.
#include "platform/gdi/objects.h"
#include "platform/gdi/raster.h"

namespace platform {
namespace gdi {

void FillSurfaceLater(Surface* surface, std::uint32_t value) {
    surface->fillPending = true;
    surface->fillValue = value;
}

}  // namespace gdi

void SettleSurface(Surface* surface) {
    if (surface == nullptr || !surface->fillPending) {
        return;
    }
    surface->fillPending = false;
    if (surface->pixels == nullptr || surface->width <= 0 || surface->height <= 0) {
        return;
    }
    if (surface->fillValue != gdi::kBlackPixel) {
        gdi::FillPixels(surface->pixels, static_cast<std::size_t>(surface->width) * surface->height,
                        surface->fillValue);
        surface->inked = RECT{0, 0, surface->width, surface->height};
        return;
    }
    // Black: only what may not be black yet needs writing.
    const RECT ink = SurfaceInk(*surface);
    for (LONG y = ink.top; y < ink.bottom; ++y) {
        gdi::FillPixels(surface->pixels + static_cast<std::size_t>(y) * surface->width + ink.left,
                        static_cast<std::size_t>(ink.right - ink.left), gdi::kBlackPixel);
    }
    surface->inked = RECT{0, 0, 0, 0};
}

void OwnSurfacePixels(Surface* surface) { SettleSurface(surface); }

}  // namespace platform
