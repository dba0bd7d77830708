// Client surfaces, update regions, painting and window device contexts.
//
// Every window owns its client pixels. Device contexts from GetDC and
// BeginPaint draw straight into them; the GDI reports each change, and the
// changed area (kept as one bounding rectangle per window) is handed to the
// back end when painting ends, when a DC is released and before the message
// loop waits. The update region is a short list of rectangles, so that
// erasing touches only what was invalidated (the two new strips of a window
// that grew, say).
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/gdi/screen_dc.h"
#include "platform/user/window_manager.h"

using platform::PixelMemory;
using platform::Surface;
using platform::WindowId;
using platform::user::FindWindowRecord;
using platform::user::GetState;
using platform::user::PaintContext;
using platform::user::State;
using platform::user::WindowRecord;

namespace {

// An update region of more rectangles than this becomes their bounding box.
const std::size_t kMaxUpdateRects = 8;

// No client side grows past kMaxSurfaceSide, whatever size the display
// reports.
using platform::kMaxSurfaceSide;

RECT ClientRect(const WindowRecord& window) {
    return RECT{0, 0, platform::user::RectWidth(window.rect),
                platform::user::RectHeight(window.rect)};
}

// The GDI's change report. The context is the window's handle value; it is
// only ever looked up, so a report for a window that is gone does nothing.
void OnSurfaceChanged(void* context, const RECT& area) {
    WindowRecord* window = FindWindowRecord(static_cast<HWND>(context));
    if (window == nullptr || platform::user::RectEmpty(area)) {
        return;
    }
    window->dirty = window->hasDirty ? platform::user::UnionRects(window->dirty, area) : area;
    window->hasDirty = true;
}

// Makes new client pixels of the given size, copying the part of the old
// ones that still fits at the top left; the rest is black. False if out of
// memory. Nothing is written but the copy: fresh memory reads as zeros.
bool AllocatePixels(const std::uint32_t* old, int oldWidth, int oldHeight, int width, int height,
                    PixelMemory* pixels) {
    PixelMemory fresh;
    if (width > 0 && height > 0) {
        fresh.reset(platform::AllocatePixelMemory(static_cast<std::size_t>(width) * height));
        if (fresh == nullptr) {
            return false;
        }
    }
    int copyWidth = std::min(oldWidth, width);
    int copyHeight = std::min(oldHeight, height);
    for (int y = 0; y < copyHeight && old != nullptr; ++y) {
        std::memcpy(&fresh[static_cast<std::size_t>(y) * width],
                    &old[static_cast<std::size_t>(y) * oldWidth],
                    static_cast<std::size_t>(copyWidth) * sizeof(std::uint32_t));
    }
    pixels->swap(fresh);
    return true;
}

PaintContext* FindPaint(HDC hdc) {
    for (PaintContext& paint : GetState().paints) {
        if (paint.hdc == hdc) {
            return &paint;
        }
    }
    return nullptr;
}

}  // namespace

namespace platform {
namespace user {

bool CreateWindowSurface(WindowRecord* window) {
    int width = std::min(RectWidth(window->rect), kMaxSurfaceSide);
    int height = std::min(RectHeight(window->rect), kMaxSurfaceSide);
    if (!AllocatePixels(nullptr, 0, 0, width, height, &window->pixels)) {
        return false;
    }
    window->surface = std::make_unique<Surface>();
    window->surface->pixels = window->pixels.get();
    window->surface->width = width;
    window->surface->height = height;
    window->surface->changed = OnSurfaceChanged;
    window->surface->context = window->hwnd;
    return true;
}

void ReleaseWindowSurface(WindowRecord* window) {
    for (HDC hdc : window->windowDCs) {
        DeleteDC(hdc);
    }
    window->windowDCs.clear();
    if (window->surface != nullptr) {
        // Paint DCs still open on it now draw nothing; EndPaint frees them.
        DetachSurface(window->surface.get());
        window->surface.reset();
    }
    window->pixels.reset();
    window->hasDirty = false;
}

void ResizeWindowSurface(WindowRecord* window, int width, int height) {
    if (window->surface == nullptr) {
        return;
    }
    width = std::clamp(width, 0, kMaxSurfaceSide);
    height = std::clamp(height, 0, kMaxSurfaceSide);
    Surface& surface = *window->surface;
    // The old pixels are copied from the buffer itself.
    platform::OwnSurfacePixels(&surface);
    int oldWidth = surface.width;
    int oldHeight = surface.height;
    if (width == oldWidth && height == oldHeight) {
        return;
    }
    PixelMemory pixels;
    if (!AllocatePixels(window->pixels.get(), oldWidth, oldHeight, width, height, &pixels)) {
        // Out of memory: an empty client area, on which drawing does nothing.
        width = 0;
        height = 0;
        oldWidth = 0;
        oldHeight = 0;
    }
    window->pixels.swap(pixels);
    surface.pixels = window->pixels.get();
    surface.width = width;
    surface.height = height;
    const RECT client = {0, 0, width, height};
    if (window->hasDirty) {
        window->dirty = IntersectRects(window->dirty, client);
        window->hasDirty = !RectEmpty(window->dirty);
    }
    std::vector<RECT> kept;
    for (const RECT& rect : window->update) {
        RECT clipped = IntersectRects(rect, client);
        if (!RectEmpty(clipped)) {
            kept.push_back(clipped);
        }
    }
    window->update.swap(kept);
    // What the old client area did not cover is new, and gets erased and
    // painted.
    if (width > oldWidth) {
        AddToUpdate(window, RECT{oldWidth, 0, width, height}, true);
    }
    if (height > oldHeight) {
        AddToUpdate(window, RECT{0, oldHeight, width, height}, true);
    }
}

void AddToUpdate(WindowRecord* window, const RECT& area, bool erase) {
    RECT clipped = IntersectRects(area, ClientRect(*window));
    if (RectEmpty(clipped)) {
        return;
    }
    window->needsErase = window->needsErase || erase;
    for (const RECT& rect : window->update) {
        if (RectContains(rect, clipped)) {
            return;  // already inside the region
        }
    }
    window->update.push_back(clipped);
    if (window->update.size() > kMaxUpdateRects) {
        window->update.assign(1, BoundingRect(window->update));
    }
}

void PresentWindow(WindowRecord* window) {
    if (!window->hasDirty) {
        return;
    }
    window->hasDirty = false;
    State& state = GetState();
    if (state.backend == nullptr || window->nativeGone || window->surface == nullptr ||
        (window->style & WS_VISIBLE) == 0) {
        // A hidden window is repainted in full when it is shown again.
        return;
    }
    Surface& surface = *window->surface;
    const RECT area = IntersectRects(window->dirty, RECT{0, 0, surface.width, surface.height});
    if (RectEmpty(area) || surface.pixels == nullptr) {
        return;
    }
    // The only moment a back end reads the pixels: settled for it here.
    platform::SettleSurface(&surface);
    platform::ClientPixels pixels;
    pixels.rows = platform::SurfaceRow(surface, 0);
    pixels.stride = platform::SurfaceStride(surface);
    pixels.width = surface.width;
    pixels.height = surface.height;
    pixels.ink = platform::SurfaceInk(surface);
    state.backend->Present(reinterpret_cast<WindowId>(window->hwnd), pixels, area);
}

void PresentAllWindows() {
    for (std::unique_ptr<WindowRecord>& slot : GetState().slots) {
        if (slot != nullptr) {
            PresentWindow(slot.get());
        }
    }
}

bool EraseBackground(WindowRecord* window, HDC hdc) {
    HBRUSH brush = window->windowClass != nullptr ? window->windowClass->background : nullptr;
    if (brush == nullptr || hdc == nullptr) {
        return false;
    }
    // Inside BeginPaint only the region being painted is erased.
    std::vector<RECT> area(1, ClientRect(*window));
    const PaintContext* paint = FindPaint(hdc);
    if (paint != nullptr && paint->hwnd == window->hwnd) {
        area = paint->area;
    }
    HGDIOBJ previous = SelectObject(hdc, brush);
    if (previous == NULL) {
        return false;
    }
    bool filled = true;
    for (const RECT& rect : area) {
        filled =
            PatBlt(hdc, rect.left, rect.top, RectWidth(rect), RectHeight(rect), PATCOPY) && filled;
    }
    SelectObject(hdc, previous);
    return filled;
}

}  // namespace user
}  // namespace platform

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
    if (hwnd == NULL) {
        // The whole screen: every window.
        for (std::unique_ptr<WindowRecord>& slot : GetState().slots) {
            if (slot != nullptr) {
                platform::user::AddToUpdate(slot.get(), ClientRect(*slot), erase != FALSE);
            }
        }
        return TRUE;
    }
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr) {
        return FALSE;
    }
    platform::user::AddToUpdate(window, rect != nullptr ? *rect : ClientRect(*window),
                                erase != FALSE);
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr) {
        return FALSE;
    }
    if (!window->update.empty() && (window->style & WS_VISIBLE) != 0) {
        SendMessageA(hwnd, WM_PAINT, 0, 0);
    }
    return TRUE;
}

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr || paint == nullptr || window->surface == nullptr) {
        return NULL;
    }
    HDC hdc = platform::CreateSurfaceDC(window->surface.get());
    if (hdc == NULL) {
        return NULL;
    }
    bool erase = !window->update.empty() && window->needsErase;
    PaintContext context;
    context.hdc = hdc;
    context.hwnd = hwnd;
    // Validated now: whatever the procedure does, this WM_PAINT is answered.
    context.area.swap(window->update);
    window->needsErase = false;

    std::memset(paint, 0, sizeof(*paint));
    paint->hdc = hdc;
    paint->rcPaint = platform::user::BoundingRect(context.area);
    GetState().paints.push_back(std::move(context));
    if (erase) {
        // fErase tells the procedure that the background still needs it.
        paint->fErase = SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) == 0;
    }
    return hdc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
    if (paint == nullptr) {
        return FALSE;
    }
    State& state = GetState();
    for (std::size_t i = 0; i < state.paints.size(); ++i) {
        if (state.paints[i].hdc == paint->hdc && state.paints[i].hwnd == hwnd) {
            state.paints.erase(state.paints.begin() + static_cast<std::ptrdiff_t>(i));
            DeleteDC(paint->hdc);
            break;
        }
    }
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window != nullptr) {
        platform::user::PresentWindow(window);
    }
    return TRUE;
}

HDC WINAPI GetDC(HWND hwnd) {
    if (hwnd == NULL) {
        return platform::CreateScreenDC();
    }
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr || window->surface == nullptr) {
        return NULL;
    }
    HDC hdc = platform::CreateSurfaceDC(window->surface.get());
    if (hdc != NULL) {
        window->windowDCs.push_back(hdc);
    }
    return hdc;
}

int WINAPI ReleaseDC(HWND hwnd, HDC hdc) {
    if (hwnd == NULL) {
        return platform::ReleaseScreenDC(hdc) ? 1 : 0;
    }
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr || hdc == NULL) {
        return 0;
    }
    auto found = std::find(window->windowDCs.begin(), window->windowDCs.end(), hdc);
    if (found == window->windowDCs.end()) {
        return 0;
    }
    window->windowDCs.erase(found);
    DeleteDC(hdc);
    platform::user::PresentWindow(window);
    return 1;
}
