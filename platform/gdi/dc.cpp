// Device contexts and the objects selected into them.
#include <windows.h>
#include <platform_extras.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/gdi/objects.h"
#include "platform/gdi/raster.h"
#include "platform/gdi/screen_dc.h"
#include "platform/gdi/surface.h"

using platform::gdi::Bitmap;
using platform::gdi::Brush;
using platform::gdi::Dc;
using platform::gdi::DcType;
using platform::gdi::Kind;
using platform::gdi::Pen;

namespace {

// Undocumented stock index of the default 1x1 monochrome bitmap.
const int kDefaultBitmapIndex = 20;
// Larger bitmaps are refused outright: per side as the reference
// implementation does, and in total so that one bitmap cannot take more
// memory than an int can count.
const int kMaxBitmapSide = 0x7FFFFFF;
const std::uint64_t kMaxBitmapBytes = 0x7FFFFFFF;

HDC NewDc(DcType type, platform::Surface* surface) {
    auto dc = std::make_unique<Dc>();
    dc->type = type;
    dc->surface = surface;
    dc->pen = static_cast<HPEN>(platform::gdi::StockObject(BLACK_PEN));
    dc->brush = static_cast<HBRUSH>(platform::gdi::StockObject(WHITE_BRUSH));
    if (type == DcType::Memory) {
        dc->bitmap = platform::gdi::DefaultBitmap();
    }
    const HPEN pen = dc->pen;
    const HBRUSH brush = dc->brush;
    const HBITMAP bitmap = dc->bitmap;
    HDC hdc = static_cast<HDC>(platform::gdi::Register(std::move(dc), Kind::Dc));
    if (hdc != nullptr) {
        platform::gdi::Hold(pen);
        platform::gdi::Hold(brush);
        if (bitmap != nullptr) {
            platform::gdi::Hold(bitmap);
        }
    }
    return hdc;
}

// Replaces the handle in `slot` by `object` and returns the one replaced.
template <typename H>
H Swap(H& slot, HGDIOBJ object) {
    H previous = slot;
    if (previous != object) {
        platform::gdi::Hold(object);
        slot = static_cast<H>(object);
        platform::gdi::LetGo(previous);
    }
    return previous;
}

HGDIOBJ SelectBitmap(Dc& dc, HGDIOBJ object) {
    if (dc.type != DcType::Memory) {
        return nullptr;
    }
    if (object == dc.bitmap) {
        return object;
    }
    const Bitmap* bitmap = platform::gdi::LookupBitmap(object);
    // A bitmap can be in one memory device context at a time; the default
    // bitmap is shared by all of them.
    if (!bitmap->isDefault && bitmap->selectCount > 0) {
        return nullptr;
    }
    return Swap(dc.bitmap, object);
}

}  // namespace

namespace platform {

HDC CreateScreenDC() { return NewDc(gdi::DcType::Screen, nullptr); }

bool ReleaseScreenDC(HDC hdc) {
    const gdi::Dc* dc = gdi::LookupDc(hdc);
    return dc != nullptr && dc->type == gdi::DcType::Screen && DeleteDC(hdc);
}

HDC CreateSurfaceDC(Surface* surface) {
    return surface != nullptr ? NewDc(gdi::DcType::Surface, surface) : nullptr;
}

void DetachSurface(Surface* surface) {
    if (surface == nullptr) {
        return;
    }
    gdi::StopShowing(surface);
    surface->fillPending = false;
    gdi::ForEachDc([surface](HDC, gdi::Dc* dc) {
        if (dc->surface == surface) {
            dc->surface = nullptr;
        }
    });
}

}  // namespace platform

HDC WINAPI CreateCompatibleDC(HDC hdc) {
    if (hdc != nullptr && platform::gdi::LookupDc(hdc) == nullptr) {
        return nullptr;
    }
    return NewDc(DcType::Memory, nullptr);
}

BOOL WINAPI DeleteDC(HDC hdc) {
    Dc* dc = platform::gdi::LookupDc(hdc);
    if (dc == nullptr) {
        return FALSE;
    }
    const HGDIOBJ held[] = {dc->pen, dc->brush, dc->bitmap};
    platform::gdi::Destroy(hdc);
    for (HGDIOBJ object : held) {
        if (object != nullptr) {
            platform::gdi::LetGo(object);
        }
    }
    return TRUE;
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int width, int height) {
    // As on Windows, an empty size gives the default 1x1 monochrome bitmap
    // whatever the device context.
    if (width == 0 || height == 0) {
        return platform::gdi::DefaultBitmap();
    }
    const Dc* dc = platform::gdi::LookupDc(hdc);
    if (dc == nullptr || width < 0 || height < 0 || width > kMaxBitmapSide ||
        height > kMaxBitmapSide) {
        return nullptr;
    }
    const std::uint64_t count = std::uint64_t(width) * std::uint64_t(height);
    if (count * sizeof(std::uint32_t) > kMaxBitmapBytes) {
        return nullptr;
    }
    // A memory device context makes bitmaps like the one it holds (so one
    // still holding its default bitmap makes monochrome ones); the screen and
    // windows make 32-bit ones.
    int bitsPerPixel = 32;
    if (dc->type == DcType::Memory) {
        const Bitmap* held = platform::gdi::LookupBitmap(dc->bitmap);
        bitsPerPixel = held != nullptr ? held->bitsPerPixel : 1;
    }
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bitsPerPixel = bitsPerPixel;
    // Zeros that take no memory until they are written.
    bitmap->pixels.reset(platform::AllocatePixelMemory(static_cast<std::size_t>(count)));
    if (bitmap->pixels == nullptr) {
        return nullptr;
    }
    bitmap->zeroed = true;
    return static_cast<HBITMAP>(platform::gdi::Register(std::move(bitmap), Kind::Bitmap));
}

HGDIOBJ WINAPI GetStockObject(int object) {
    if (object == kDefaultBitmapIndex) {
        return platform::gdi::DefaultBitmap();
    }
    return platform::gdi::StockObject(object);
}

HPEN WINAPI CreatePen(int style, int width, COLORREF colour) {
    if (style == PS_NULL) {
        return static_cast<HPEN>(platform::gdi::StockObject(NULL_PEN));
    }
    // Only one-pixel solid pens are drawn here; dashed and wide pens are
    // refused rather than drawn differently from the platform.
    if ((style != PS_SOLID && style != PS_INSIDEFRAME) || width < -1 || width > 1) {
        return nullptr;
    }
    auto pen = std::make_unique<Pen>();
    pen->colour = colour;
    return static_cast<HPEN>(platform::gdi::Register(std::move(pen), Kind::Pen));
}

HBRUSH WINAPI CreateSolidBrush(COLORREF colour) {
    auto brush = std::make_unique<Brush>();
    brush->colour = colour;
    return static_cast<HBRUSH>(platform::gdi::Register(std::move(brush), Kind::Brush));
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ object) {
    Dc* dc = platform::gdi::LookupDc(hdc);
    if (dc == nullptr) {
        return nullptr;
    }
    switch (platform::gdi::KindOf(object)) {
        case Kind::Pen:
            return Swap(dc->pen, object);
        case Kind::Brush:
            return Swap(dc->brush, object);
        case Kind::Bitmap:
            return SelectBitmap(*dc, object);
        default:
            return nullptr;
    }
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    const Kind kind = platform::gdi::KindOf(object);
    if (kind == Kind::None) {
        return FALSE;
    }
    if (kind == Kind::Dc) {
        // As with the reference implementation, a device context handle
        // given to DeleteObject is deleted as by DeleteDC.
        return DeleteDC(static_cast<HDC>(object));
    }
    platform::gdi::Object* target = platform::gdi::Lookup(object, kind);
    if (target->stock) {
        return TRUE;
    }
    if (target->selectCount > 0) {
        // Still selected: deleted when the last device context lets go.
        target->deletePending = true;
        return TRUE;
    }
    platform::gdi::Destroy(object);
    return TRUE;
}

BOOL PlatformObserveLines(HDC hdc, PlatformLineObserver observer, void* context) {
    Dc* dc = platform::gdi::LookupDc(hdc);
    if (dc == nullptr) {
        return FALSE;
    }
    dc->observer = observer;
    dc->observerContext = observer != nullptr ? context : nullptr;
    return TRUE;
}
