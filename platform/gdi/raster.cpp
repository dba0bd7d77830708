#include "platform/gdi/raster.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace gdi {

namespace {

// The default logical palette, which PALETTEINDEX colours refer to.
const COLORREF kDefaultPalette[20] = {
    RGB(0x00, 0x00, 0x00), RGB(0x80, 0x00, 0x00), RGB(0x00, 0x80, 0x00), RGB(0x80, 0x80, 0x00),
    RGB(0x00, 0x00, 0x80), RGB(0x80, 0x00, 0x80), RGB(0x00, 0x80, 0x80), RGB(0xC0, 0xC0, 0xC0),
    RGB(0xC0, 0xDC, 0xC0), RGB(0xA6, 0xCA, 0xF0), RGB(0xFF, 0xFB, 0xF0), RGB(0xA0, 0xA0, 0xA4),
    RGB(0x80, 0x80, 0x80), RGB(0xFF, 0x00, 0x00), RGB(0x00, 0xFF, 0x00), RGB(0xFF, 0xFF, 0x00),
    RGB(0x00, 0x00, 0xFF), RGB(0xFF, 0x00, 0xFF), RGB(0x00, 0xFF, 0xFF), RGB(0xFF, 0xFF, 0xFF),
};

const unsigned char kBayer8x8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

const COLORREF kWhite = RGB(255, 255, 255);

// A COLORREF with its flag byte interpreted: PALETTEINDEX colours become the
// palette entry, DIBINDEX colours name a pixel value directly.
struct Colour {
    bool isIndex = false;
    unsigned index = 0;
    bool fromPalette = false;
    COLORREF rgb = 0;
};

Colour Interpret(COLORREF colour) {
    Colour c;
    if (colour & 0x01000000) {
        const unsigned entry = colour & 0xFFFF;
        c.rgb = kDefaultPalette[entry < 20 ? entry : 0];
        c.fromPalette = true;
    } else if ((colour >> 16) == 0x10FF) {
        c.isIndex = true;
        c.index = colour & 0xFFFF;
    } else {
        c.rgb = colour & 0x00FFFFFF;
    }
    return c;
}

// A pixel index of a monochrome bitmap; out-of-range indexes give 0.
std::uint32_t MonoIndexPixel(unsigned index) { return index == 1 ? kWhitePixel : kBlackPixel; }

}  // namespace

void FillPixels(std::uint32_t* pixels, std::size_t count, std::uint32_t value) {
    if (value == (value & 0xFF) * 0x01010101u) {
        std::memset(pixels, static_cast<int>(value & 0xFF), count * sizeof(std::uint32_t));
        return;
    }
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    // The string store runs at memset speed on large areas, where a loop of
    // ordinary stores reaches less than half of it.
    __asm__ __volatile__("rep stosl" : "+D"(pixels), "+c"(count) : "a"(value) : "memory");
#else
    std::fill(pixels, pixels + count, value);
#endif
}

std::uint32_t PixelFromRgb(COLORREF rgb) {
    return (std::uint32_t(GetRValue(rgb)) << 16) | (std::uint32_t(GetGValue(rgb)) << 8) |
           GetBValue(rgb);
}

COLORREF RgbFromPixel(std::uint32_t pixel) {
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

Target PeekTarget(const Dc& dc) {
    Target target;
    if (dc.type == DcType::Memory) {
        Bitmap* bitmap = LookupBitmap(dc.bitmap);
        if (bitmap != nullptr && !bitmap->isDefault && bitmap->pixels != nullptr) {
            target.pixels = bitmap->pixels.get();
            target.width = bitmap->width;
            target.height = bitmap->height;
            target.mono = bitmap->bitsPerPixel == 1;
            target.bitmap = bitmap;
        }
    } else if (dc.type == DcType::Surface) {
        Surface* surface = dc.surface;
        if (surface != nullptr && surface->pixels != nullptr && surface->width > 0 &&
            surface->height > 0) {
            target.pixels = surface->pixels;
            target.width = surface->width;
            target.height = surface->height;
            target.surface = surface;
        }
    }
    return target;
}

void PrepareTarget(const Target& target) {
    if (target.surface != nullptr) {
        OwnSurfacePixels(target.surface);
    }
    if (target.bitmap != nullptr) {
        Bitmap& bitmap = *target.bitmap;
        if (bitmap.writing) {
            // The last write's area was never reported.
            bitmap.written = RECT{0, 0, bitmap.width, bitmap.height};
        }
        bitmap.writing = true;
        target.bitmap->zeroed = false;
        if (!target.bitmap->viewers.empty()) {
            ReleaseViewers(target.bitmap);
        }
    }
}

Source ReadSource(const Dc& dc) {
    Source source;
    const Bitmap* bitmap = dc.type == DcType::Memory ? LookupBitmap(dc.bitmap) : nullptr;
    if (bitmap != nullptr && bitmap->isDefault) {
        source.pixels = bitmap->pixels.get();
        source.width = source.pixels != nullptr ? 1 : 0;
        source.height = source.width;
        source.mono = true;
        return source;
    }
    // Reading a bitmap leaves the surfaces that show it alone.
    const Target target = PeekTarget(dc);
    if (target.surface != nullptr) {
        OwnSurfacePixels(target.surface);
    }
    source.pixels = target.pixels;
    source.width = target.width;
    source.height = target.height;
    source.mono = target.mono;
    return source;
}

void NotifyChanged(const Target& target, const RECT& area) {
    if (target.bitmap != nullptr) {
        Bitmap& bitmap = *target.bitmap;
        bitmap.writing = false;
        if (area.left < area.right && area.top < area.bottom) {
            RECT& written = bitmap.written;
            written = written.left < written.right && written.top < written.bottom
                          ? RECT{std::min(written.left, area.left), std::min(written.top, area.top),
                                 std::max(written.right, area.right),
                                 std::max(written.bottom, area.bottom)}
                          : area;
        }
    }
    if (target.surface != nullptr && target.surface->changed != nullptr && area.left < area.right &&
        area.top < area.bottom) {
        target.surface->changed(target.surface->context, area);
    }
}

std::uint32_t PenPixel(COLORREF colour, bool mono) {
    const Colour c = Interpret(colour);
    if (c.isIndex) {
        // A 32-bit bitmap has no colour table to index.
        return mono ? MonoIndexPixel(c.index) : kBlackPixel;
    }
    if (!mono) {
        return PixelFromRgb(c.rgb);
    }
    // Monochrome: exactly white is white; every other colour differs from
    // the (white) background colour and takes the other entry.
    return c.rgb == kWhite ? kWhitePixel : kBlackPixel;
}

BrushPattern::BrushPattern(COLORREF colour, bool mono) {
    const Colour c = Interpret(colour);
    if (c.isIndex) {
        pixel_ = mono ? MonoIndexPixel(c.index) : kBlackPixel;
    } else if (!mono) {
        pixel_ = PixelFromRgb(c.rgb);
    } else if (!c.fromPalette && (c.rgb == 0 || c.rgb == kWhite)) {
        pixel_ = c.rgb == 0 ? kBlackPixel : kWhitePixel;
    } else {
        uniform_ = false;
        grey_ = (30 * GetRValue(c.rgb) + 59 * GetGValue(c.rgb) + 11 * GetBValue(c.rgb) + 200) / 400;
    }
}

std::uint32_t BrushPattern::At(int x, int y) const {
    if (uniform_) {
        return pixel_;
    }
    return grey_ + kBayer8x8[y & 7][x & 7] > 63 ? kWhitePixel : kBlackPixel;
}

}  // namespace gdi
}  // namespace platform
