// Whole-surface fills and copies that are not written at once: see
// surface.h.
#include <algorithm>
#include <cstring>

#include "platform/gdi/objects.h"
#include "platform/gdi/raster.h"

namespace platform {
namespace gdi {

void StopShowing(Surface* surface) {
    if (surface->view == nullptr) {
        return;
    }
    Bitmap* bitmap = LookupBitmap(surface->viewOf);
    if (bitmap != nullptr) {
        std::vector<Surface*>& viewers = bitmap->viewers;
        viewers.erase(std::remove(viewers.begin(), viewers.end(), surface), viewers.end());
    }
    surface->view = nullptr;
    surface->viewStride = 0;
    surface->viewOf = nullptr;
    surface->viewWritten = RECT{0, 0, 0, 0};
}

void ShowBitmapPart(Surface* surface, HBITMAP handle, Bitmap* bitmap, const std::uint32_t* view,
                    std::size_t stride) {
    StopShowing(surface);
    surface->fillPending = false;
    surface->view = view;
    surface->viewStride = stride;
    surface->viewOf = handle;
    // The bitmap's written bounds, moved to where the surface shows it.
    const std::size_t offset = static_cast<std::size_t>(view - bitmap->pixels.get());
    const LONG left = static_cast<LONG>(offset % stride);
    const LONG top = static_cast<LONG>(offset / stride);
    RECT written = bitmap->writing ? RECT{0, 0, bitmap->width, bitmap->height} : bitmap->written;
    written = RECT{std::max<LONG>(written.left - left, 0), std::max<LONG>(written.top - top, 0),
                   std::min<LONG>(written.right - left, surface->width),
                   std::min<LONG>(written.bottom - top, surface->height)};
    surface->viewWritten =
        written.left < written.right && written.top < written.bottom ? written : RECT{0, 0, 0, 0};
    bitmap->viewers.push_back(surface);
}

void FillSurfaceLater(Surface* surface, std::uint32_t value) {
    StopShowing(surface);
    surface->fillPending = true;
    surface->fillValue = value;
}

void ReleaseViewers(Bitmap* bitmap) {
    // Each surface takes itself off the list as it takes its copy.
    while (!bitmap->viewers.empty()) {
        OwnSurfacePixels(bitmap->viewers.back());
    }
}

}  // namespace gdi

void SettleSurface(Surface* surface) {
    if (surface == nullptr || !surface->fillPending) {
        return;
    }
    surface->fillPending = false;
    if (surface->pixels != nullptr && surface->width > 0 && surface->height > 0) {
        gdi::FillPixels(surface->pixels, static_cast<std::size_t>(surface->width) * surface->height,
                        surface->fillValue);
    }
}

void OwnSurfacePixels(Surface* surface) {
    if (surface == nullptr) {
        return;
    }
    SettleSurface(surface);
    if (surface->view == nullptr) {
        return;
    }
    if (surface->pixels != nullptr) {
        for (int y = 0; y < surface->height; ++y) {
            std::memcpy(surface->pixels + static_cast<std::size_t>(y) * surface->width,
                        surface->view + static_cast<std::size_t>(y) * surface->viewStride,
                        static_cast<std::size_t>(surface->width) * sizeof(std::uint32_t));
        }
    }
    gdi::StopShowing(surface);
}

}  // namespace platform
