// Drawing: lines, pattern fills, block copies and single pixels.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/gdi/line_raster.h"
#include "platform/gdi/objects.h"
#include "platform/gdi/raster.h"

namespace gdi = platform::gdi;

namespace {

// A rectangle with 64-bit edges: rectangles given as origin plus extent can
// reach past the int range.
struct Area {
    std::int64_t left, top, right, bottom;
    bool Empty() const { return left >= right || top >= bottom; }
};

// The pixels covered by a blit of `width` x `height` at (x, y). A negative
// extent covers the pixels before the origin and the origin itself, as on
// Windows: PatBlt(5, 5, -3, -2) covers x 3..5, y 4..5.
Area BlitArea(int x, int y, int width, int height) {
    Area area{x, y, std::int64_t(x) + width, std::int64_t(y) + height};
    if (area.left > area.right) {
        area = Area{area.right + 1, area.top, area.left + 1, area.bottom};
    }
    if (area.top > area.bottom) {
        area = Area{area.left, area.bottom + 1, area.right, area.top + 1};
    }
    return area;
}

Area Intersect(const Area& a, const Area& b) {
    return Area{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

RECT ToRect(const Area& area) {
    return RECT{static_cast<LONG>(area.left), static_cast<LONG>(area.top),
                static_cast<LONG>(area.right), static_cast<LONG>(area.bottom)};
}

unsigned RopCode(DWORD rop) { return (rop >> 16) & 0xFF; }

// Applies a raster operation without source to `area` of the device context.
void FillArea(const gdi::Dc& dc, const Area& requested, unsigned code) {
    const gdi::Target target = gdi::PeekTarget(dc);
    if (target.pixels == nullptr) {
        return;
    }
    const Area area = Intersect(requested, Area{0, 0, target.width, target.height});
    if (area.Empty() || code == 0xAA) {  // 0xAA leaves the destination as it is
        return;
    }
    const gdi::Brush* brush = gdi::LookupBrush(dc.brush);
    const bool usesPattern = gdi::RopUsesPattern(code);
    if (usesPattern && (brush == nullptr || brush->hollow)) {
        return;
    }
    const gdi::BrushPattern pattern(brush != nullptr ? brush->colour : 0, target.mono);
    const std::size_t stride = static_cast<std::size_t>(target.width);
    const int left = static_cast<int>(area.left);
    const int right = static_cast<int>(area.right);

    // Constant fills are plain row fills.
    bool constant = false;
    std::uint32_t value = 0;
    if (code == 0x00 || code == 0xFF) {
        constant = true;
        value = code == 0xFF ? gdi::kWhitePixel : gdi::kBlackPixel;
    } else if (code == 0xF0 && pattern.Uniform()) {
        constant = true;
        value = pattern.At(0, 0);
    }
    if (constant && target.surface != nullptr && area.left == 0 && area.top == 0 &&
        area.right == target.width && area.bottom == target.height) {
        // The whole client area in one colour: usually painted over next.
        gdi::FillSurfaceLater(target.surface, value);
        gdi::NotifyChanged(target, ToRect(area));
        return;
    }
    if (constant && value == gdi::kBlackPixel && target.bitmap != nullptr &&
        target.bitmap->zeroed) {
        // Black on pixels that are all still 0: nothing to write.
        return;
    }
    gdi::PrepareTarget(target);
    if (constant) {
        const std::size_t rows = static_cast<std::size_t>(area.bottom - area.top);
        std::uint32_t* first = target.pixels + static_cast<std::size_t>(area.top) * stride;
        if (left == 0 && right == target.width) {
            // Whole rows are one run of memory.
            gdi::FillPixels(first, rows * stride, value);
        } else {
            for (std::size_t y = 0; y < rows; ++y) {
                gdi::FillPixels(first + y * stride + left, static_cast<std::size_t>(right - left),
                                value);
            }
        }
        gdi::NotifyChanged(target, ToRect(area));
        return;
    }
    for (std::int64_t y = area.top; y < area.bottom; ++y) {
        std::uint32_t* row = target.pixels + static_cast<std::size_t>(y) * stride;
        for (int x = left; x < right; ++x) {
            row[x] = gdi::ApplyRop3(code, pattern.At(x, static_cast<int>(y)), 0, row[x]);
        }
    }
    gdi::NotifyChanged(target, ToRect(area));
}

// Combines one row of source pixels into a destination row starting at
// (x, y), converting colour to monochrome when needed: only the background
// colour (white) stays white.
void BlitRow(std::uint32_t* dst, const std::uint32_t* src, std::size_t count, bool toMono,
             unsigned code, const gdi::BrushPattern& pattern, int x, int y) {
    if (code == 0xCC && !toMono) {
        std::memmove(dst, src, count * sizeof(std::uint32_t));
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t s = src[i];
        if (toMono) {
            s = s == gdi::kWhitePixel ? gdi::kWhitePixel : gdi::kBlackPixel;
        }
        dst[i] = code == 0xCC
                     ? s
                     : gdi::ApplyRop3(code, pattern.At(x + static_cast<int>(i), y), s, dst[i]);
    }
}

}  // namespace

BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT previous) {
    gdi::Dc* dc = gdi::LookupDc(hdc);
    if (dc == nullptr) {
        return FALSE;
    }
    if (previous != nullptr) {
        *previous = dc->position;
    }
    dc->position = POINT{x, y};
    return TRUE;
}

BOOL WINAPI LineTo(HDC hdc, int x, int y) {
    gdi::Dc* dc = gdi::LookupDc(hdc);
    if (dc == nullptr) {
        return FALSE;
    }
    const POINT start = dc->position;
    if (dc->observer != nullptr) {
        dc->observer(dc->observerContext, start.x, start.y, x, y);
        // The observer may have changed or deleted the device context.
        dc = gdi::LookupDc(hdc);
        if (dc == nullptr) {
            return FALSE;
        }
    }
    dc->position = POINT{x, y};
    if (start.x == x && start.y == y) {
        return TRUE;  // the end point is left out, so nothing is drawn
    }

    const gdi::Pen* pen = gdi::LookupPen(dc->pen);
    const gdi::Target target = gdi::PeekTarget(*dc);
    if (pen == nullptr || !pen->visible || target.pixels == nullptr) {
        return TRUE;
    }
    gdi::PrepareTarget(target);
    const gdi::LineEnds ends = gdi::DeviceLineEnds(start.x, start.y, x, y);
    if (!ends.drawn) {
        return TRUE;
    }
    const gdi::LineWalk walk =
        gdi::ClipLine(ends.x0, ends.y0, ends.x1, ends.y1, target.width, target.height);
    if (walk.count == 0) {
        return TRUE;
    }
    const std::uint32_t pixel = gdi::PenPixel(pen->colour, target.mono);
    const std::size_t stride = static_cast<std::size_t>(target.width);
    int lastX = walk.x;
    int lastY = walk.y;
    gdi::WalkLine(walk, [&](int px, int py) {
        target.pixels[static_cast<std::size_t>(py) * stride + px] = pixel;
        lastX = px;
        lastY = py;
    });
    const RECT changed{std::min(walk.x, lastX), std::min(walk.y, lastY),
                       std::max(walk.x, lastX) + 1, std::max(walk.y, lastY) + 1};
    gdi::NotifyChanged(target, changed);
    return TRUE;
}

BOOL WINAPI PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop) {
    const gdi::Dc* dc = gdi::LookupDc(hdc);
    const unsigned code = RopCode(rop);
    if (dc == nullptr || gdi::RopUsesSource(code)) {
        return FALSE;
    }
    FillArea(*dc, BlitArea(x, y, width, height), code);
    return TRUE;
}

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                   DWORD rop) {
    const gdi::Dc* dstDc = gdi::LookupDc(dest);
    const unsigned code = RopCode(rop);
    if (dstDc == nullptr) {
        return FALSE;
    }
    if (!gdi::RopUsesSource(code)) {
        FillArea(*dstDc, BlitArea(x, y, width, height), code);
        return TRUE;
    }
    const gdi::Dc* srcDc = gdi::LookupDc(src);
    if (srcDc == nullptr) {
        return FALSE;
    }
    const gdi::Target target = gdi::PeekTarget(*dstDc);
    const gdi::Source source = gdi::ReadSource(*srcDc);
    const gdi::Brush* brush = gdi::LookupBrush(dstDc->brush);
    if (target.pixels == nullptr || source.pixels == nullptr ||
        (gdi::RopUsesPattern(code) && (brush == nullptr || brush->hollow))) {
        return TRUE;
    }
    const gdi::BrushPattern pattern(brush != nullptr ? brush->colour : 0, target.mono);

    // Clip to both bitmaps: pixels whose source lies outside the source
    // bitmap are left alone.
    const Area dstArea = BlitArea(x, y, width, height);
    const Area srcArea = BlitArea(srcX, srcY, width, height);
    const std::int64_t offsetX = dstArea.left - srcArea.left;
    const std::int64_t offsetY = dstArea.top - srcArea.top;
    const Area srcInDst =
        Intersect(Area{offsetX, offsetY, offsetX + source.width, offsetY + source.height}, dstArea);
    const Area area = Intersect(srcInDst, Area{0, 0, target.width, target.height});
    if (area.Empty()) {
        return TRUE;
    }

    const std::size_t count = static_cast<std::size_t>(area.right - area.left);
    const std::size_t dstStride = static_cast<std::size_t>(target.width);
    const std::size_t srcStride = static_cast<std::size_t>(source.width);
    const std::size_t srcLeft = static_cast<std::size_t>(area.left - offsetX);
    const bool toMono = target.mono && !source.mono;
    if (code == 0xCC && target.surface != nullptr && srcDc->type == gdi::DcType::Memory &&
        area.left == 0 && area.top == 0 && area.right == target.width &&
        area.bottom == target.height) {
        // A plain copy over the whole client area (a window painting its
        // canvas): the surface shows the bitmap's pixels in place.
        gdi::Bitmap* bits = gdi::LookupBitmap(srcDc->bitmap);
        if (bits != nullptr && !bits->isDefault && bits->pixels.get() == source.pixels) {
            gdi::ShowBitmapPart(
                target.surface, srcDc->bitmap, bits,
                source.pixels + static_cast<std::size_t>(-offsetY) * srcStride + srcLeft,
                srcStride);
            gdi::NotifyChanged(target, ToRect(area));
            return TRUE;
        }
    }
    gdi::PrepareTarget(target);
    const bool sameBuffer = source.pixels == target.pixels;
    // Within one bitmap, copy rows in the order that reads each row before
    // it is overwritten; a row that overlaps itself goes through a copy.
    const bool bottomUp = sameBuffer && offsetY > 0;
    std::vector<std::uint32_t> scratch;
    if (sameBuffer && code != 0xCC) {
        scratch.resize(count);
    }
    for (std::int64_t i = 0; i < area.bottom - area.top; ++i) {
        const std::int64_t y = bottomUp ? area.bottom - 1 - i : area.top + i;
        std::uint32_t* dstRow = target.pixels + static_cast<std::size_t>(y) * dstStride +
                                static_cast<std::size_t>(area.left);
        const std::uint32_t* srcRow =
            source.pixels + static_cast<std::size_t>(y - offsetY) * srcStride + srcLeft;
        if (!scratch.empty()) {
            std::copy(srcRow, srcRow + count, scratch.begin());
            srcRow = scratch.data();
        }
        BlitRow(dstRow, srcRow, count, toMono, code, pattern, static_cast<int>(area.left),
                static_cast<int>(y));
    }
    gdi::NotifyChanged(target, ToRect(area));
    return TRUE;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
    const gdi::Dc* dc = gdi::LookupDc(hdc);
    if (dc == nullptr) {
        return CLR_INVALID;
    }
    const gdi::Source source = gdi::ReadSource(*dc);
    if (source.pixels == nullptr || x < 0 || y < 0 || x >= source.width || y >= source.height) {
        return CLR_INVALID;
    }
    return gdi::RgbFromPixel(
        source.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(source.width) + x]);
}
