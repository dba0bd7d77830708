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

// The pixels of tile (tx, ty) inside `area` and inside the bitmap, and
// whether that is the whole tile as far as the bitmap goes.
struct TilePart {
    int left, top, right, bottom;
    bool whole;
};
TilePart PartOfTile(const gdi::Target& target, const Area& area, int tx, int ty) {
    const int tileLeft = tx << gdi::kTileShift;
    const int tileTop = ty << gdi::kTileShift;
    const int tileRight = std::min(tileLeft + gdi::kTileSide, target.width);
    const int tileBottom = std::min(tileTop + gdi::kTileSide, target.height);
    TilePart part{std::max(tileLeft, static_cast<int>(area.left)),
                  std::max(tileTop, static_cast<int>(area.top)),
                  std::min(tileRight, static_cast<int>(area.right)),
                  std::min(tileBottom, static_cast<int>(area.bottom)), false};
    part.whole = part.left == tileLeft && part.top == tileTop && part.right == tileRight &&
                 part.bottom == tileBottom;
    return part;
}

// How far ahead, in tiles, fills and copies load the tiles they will work on.
const int kTilesAhead = 4;

// Applies a raster operation without source to `area` (inside the bitmap,
// not empty) of a tiled target. A tile covered whole ends up in one colour
// whenever the result is one colour, without memory. Every tile that must be
// written is made writable first: false, with no pixel changed, when one
// cannot be.
bool FillTiles(const gdi::Target& target, const Area& area, unsigned code, bool constant,
               std::uint32_t value, const gdi::BrushPattern& pattern) {
    gdi::TiledPixels& tiles = *target.tiles;
    const int firstX = static_cast<int>(area.left) >> gdi::kTileShift;
    const int lastX = static_cast<int>(area.right - 1) >> gdi::kTileShift;
    const int firstY = static_cast<int>(area.top) >> gdi::kTileShift;
    const int lastY = static_cast<int>(area.bottom - 1) >> gdi::kTileShift;
    // What a tile of one colour becomes; false when it needs its pixels.
    auto oneColour = [&](int tx, int ty, const TilePart& part, std::uint32_t* result) {
        if (tiles.TileMemory(tx, ty) != nullptr) {
            if (part.whole && constant) {
                *result = value;
                return true;
            }
            return false;
        }
        if (constant) {
            *result = value;
        } else if (pattern.Uniform()) {
            *result = gdi::ApplyRop3(code, pattern.At(0, 0), 0, tiles.Uniform(tx, ty));
        } else {
            return false;
        }
        return part.whole || *result == tiles.Uniform(tx, ty);
    };
    for (int ty = firstY; ty <= lastY; ++ty) {
        for (int tx = firstX; tx <= lastX; ++tx) {
            std::uint32_t result;
            if (!oneColour(tx, ty, PartOfTile(target, area, tx, ty), &result) &&
                !tiles.MakeWritable(tx, ty)) {
                return false;
            }
        }
    }
    for (int ty = firstY; ty <= lastY; ++ty) {
        for (int tx = firstX; tx <= lastX; ++tx) {
            const TilePart part = PartOfTile(target, area, tx, ty);
            // The next tile, loaded a row at a time as this one is worked
            // on (a store to memory not yet loaded waits for it too).
            const int across = lastX - firstX + 1;
            const int next = (ty - firstY) * across + (tx - firstX) + kTilesAhead;
            const std::uint32_t* ahead =
                tiles.TileMemoryOrNull(firstX + next % across, firstY + next / across);
            std::uint32_t result;
            if (tiles.TileMemory(tx, ty) == nullptr || (part.whole && constant)) {
                if (oneColour(tx, ty, part, &result)) {
                    tiles.SetUniform(tx, ty, result);
                    continue;
                }
            }
            const std::size_t count = static_cast<std::size_t>(part.right - part.left);
            if (count == gdi::kTileSide && (constant || pattern.Uniform())) {
                // Rows the tile's width across: loops of a fixed length.
                const gdi::DestinationRop rop(code, pattern.At(0, 0), 0);
                for (int y = part.top; y < part.bottom; ++y) {
                    gdi::PrefetchRow(ahead, y & gdi::kTileMask);
                    std::uint32_t* row = tiles.Writable(part.left, y);
                    if (constant) {
                        for (int i = 0; i < gdi::kTileSide; ++i) {
                            row[i] = value;
                        }
                    } else {
                        for (int i = 0; i < gdi::kTileSide; ++i) {
                            row[i] = rop(row[i]);
                        }
                    }
                }
                continue;
            }
            for (int y = part.top; y < part.bottom; ++y) {
                gdi::PrefetchRow(ahead, y & gdi::kTileMask);
                std::uint32_t* row = tiles.Writable(part.left, y);
                if (constant) {
                    gdi::FillPixels(row, count, value);
                    continue;
                }
                if (pattern.Uniform()) {
                    const gdi::DestinationRop rop(code, pattern.At(0, 0), 0);
                    for (std::size_t i = 0; i < count; ++i) {
                        row[i] = rop(row[i]);
                    }
                    continue;
                }
                for (std::size_t i = 0; i < count; ++i) {
                    const int x = part.left + static_cast<int>(i);
                    row[i] = gdi::ApplyRop3(code, pattern.At(x, y), 0, row[i]);
                }
            }
        }
    }
    return true;
}

// Applies a raster operation without source to `area` of the device context.
// False when the memory for it cannot be had.
bool FillArea(const gdi::Dc& dc, const Area& requested, unsigned code) {
    const gdi::Target target = gdi::PeekTarget(dc);
    if (!target.Drawable()) {
        return true;
    }
    const Area area = Intersect(requested, Area{0, 0, target.width, target.height});
    if (area.Empty() || code == 0xAA) {  // 0xAA leaves the destination as it is
        return true;
    }
    const gdi::Brush* brush = gdi::LookupBrush(dc.brush);
    const bool usesPattern = gdi::RopUsesPattern(code);
    if (usesPattern && (brush == nullptr || brush->hollow)) {
        return true;
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
        gdi::ReportChanged(target, ToRect(area));
        return true;
    }
    gdi::PrepareTarget(target);
    if (target.tiles != nullptr) {
        return FillTiles(target, area, code, constant, value, pattern);
    }
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
        return true;
    }
    if (pattern.Uniform()) {
        const gdi::DestinationRop rop(code, pattern.At(0, 0), 0);
        for (std::int64_t y = area.top; y < area.bottom; ++y) {
            std::uint32_t* row = target.pixels + static_cast<std::size_t>(y) * stride;
            for (int x = left; x < right; ++x) {
                row[x] = rop(row[x]);
            }
        }
        gdi::NotifyChanged(target, ToRect(area));
        return true;
    }
    for (std::int64_t y = area.top; y < area.bottom; ++y) {
        std::uint32_t* row = target.pixels + static_cast<std::size_t>(y) * stride;
        for (int x = left; x < right; ++x) {
            row[x] = gdi::ApplyRop3(code, pattern.At(x, static_cast<int>(y)), 0, row[x]);
        }
    }
    gdi::NotifyChanged(target, ToRect(area));
    return true;
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

// Makes every tile the line walks through writable; false when one cannot
// be. The walk is taken a tile's width of steps at a time: within such a
// stretch the minor coordinate goes from its value at the first step to its
// value at the last, both known without walking.
bool MakeLineWritable(gdi::TiledPixels& tiles, const gdi::LineWalk& walk) {
    const int majorStart = walk.xMajor ? walk.x : walk.y;
    const int minorStart = walk.xMajor ? walk.y : walk.x;
    auto minorAt = [&](std::int64_t step) {
        return minorStart +
               walk.minorStep * static_cast<int>((walk.remainder + step * walk.remainderStep) /
                                                 walk.remainderWrap);
    };
    for (std::int64_t first = 0; first < walk.count;) {
        const int major = majorStart + walk.majorStep * static_cast<int>(first);
        const int inTile = major & gdi::kTileMask;
        const std::int64_t last = std::min<std::int64_t>(
            walk.count - 1, first + (walk.majorStep > 0 ? gdi::kTileMask - inTile : inTile));
        const int majorTile = major >> gdi::kTileShift;
        const int a = minorAt(first) >> gdi::kTileShift;
        const int b = minorAt(last) >> gdi::kTileShift;
        for (int minorTile = std::min(a, b); minorTile <= std::max(a, b); ++minorTile) {
            if (!(walk.xMajor ? tiles.MakeWritable(majorTile, minorTile)
                              : tiles.MakeWritable(minorTile, majorTile))) {
                return false;
            }
        }
        first = last + 1;
    }
    return true;
}

// A block copy between two device contexts, already clipped: destination
// pixel (x, y) combines source pixel (x - offsetX, y - offsetY).
struct Blit {
    const gdi::Target& target;
    const gdi::Source& source;
    int offsetX;
    int offsetY;
    unsigned code;
    bool toMono;
    const gdi::BrushPattern& pattern;
};

// Does `blit` on `area` of the destination, whose tiles (if any) are
// writable. Within one bitmap, rows go in the order that reads each row
// before it is overwritten, and each row goes through a copy.
void BlitPart(const Blit& blit, const Area& area, bool sameBuffer) {
    const bool bottomUp = sameBuffer && blit.offsetY > 0;
    const int left = static_cast<int>(area.left);
    const int right = static_cast<int>(area.right);
    const std::size_t count = static_cast<std::size_t>(right - left);
    std::vector<std::uint32_t> scratch;
    gdi::Source row = blit.source;
    if (sameBuffer && (blit.code != 0xCC || blit.source.tiles != nullptr)) {
        scratch.resize(count);
        row = gdi::Source{scratch.data(), nullptr, static_cast<int>(count), 1, blit.source.mono};
    }
    std::uint32_t buffer[gdi::kTileSide];
    const bool plainTileCopy = blit.code == 0xCC && !blit.toMono && blit.target.tiles != nullptr;
    for (std::int64_t i = 0; i < area.bottom - area.top; ++i) {
        const int y = static_cast<int>(bottomUp ? area.bottom - 1 - i : area.top + i);
        const int sy = y - blit.offsetY;
        // Where source column x - offsetX is found in `row`.
        int shift = blit.offsetX;
        int rowY = sy;
        if (!scratch.empty()) {
            if (blit.source.tiles != nullptr) {
                blit.source.tiles->ReadRow(left - blit.offsetX, sy, static_cast<int>(count),
                                           scratch.data());
            } else {
                const std::uint32_t* from =
                    blit.source.pixels +
                    static_cast<std::size_t>(sy) * static_cast<std::size_t>(blit.source.width) +
                    (left - blit.offsetX);
                std::copy(from, from + count, scratch.begin());
            }
            shift = left;
            rowY = 0;
        }
        for (int x = left; x < right;) {
            int n = 0;
            std::uint32_t* dst = gdi::WriteSpan(blit.target, x, y, right, &n);
            const std::uint32_t* src =
                gdi::ReadSpan(row, x - shift, rowY, x - shift + n, &n, buffer);
            if (plainTileCopy && n == gdi::kTileSide) {
                // A whole tile row, never overlapping (a copy within one
                // bitmap reads from the scratch row): a fixed-size copy,
                // made in place without a call.
                std::memcpy(dst, src, gdi::kTileSide * sizeof(std::uint32_t));
            } else {
                BlitRow(dst, src, static_cast<std::size_t>(n), blit.toMono, blit.code, blit.pattern,
                        x, y);
            }
            x += n;
        }
    }
}

// Copies `count` pixels that do not overlap; inline, as tile rows are short.
inline void CopyPixels(std::uint32_t* __restrict dst, const std::uint32_t* __restrict src,
                       int count) {
    for (int i = 0; i < count; ++i) {
        dst[i] = src[i];
    }
}

// A plain copy within one tiled bitmap, whose tiles meeting `area` are
// writable, tile by tile. Tiles, and rows within a tile, go in the order that
// reads every pixel before it is overwritten: from the side the copy moves
// towards. Each destination tile row takes at most two pieces, one from each
// source tile it straddles.
void CopyWithinTiles(const gdi::Target& target, const Area& area, int offsetX, int offsetY) {
    gdi::TiledPixels& tiles = *target.tiles;
    const int firstX = static_cast<int>(area.left) >> gdi::kTileShift;
    const int lastX = static_cast<int>(area.right - 1) >> gdi::kTileShift;
    const int firstY = static_cast<int>(area.top) >> gdi::kTileShift;
    const int lastY = static_cast<int>(area.bottom - 1) >> gdi::kTileShift;
    const bool rightToLeft = offsetX > 0;
    const bool bottomUp = offsetY > 0;
    std::uint32_t buffer[gdi::kTileSide];
    std::uint32_t staged[2 * gdi::kTilePixels];
    // Pixels [x, end) of row y from the source, x and end in one destination
    // tile and their source in one source tile.
    auto piece = [&](int x, int end, int y) {
        std::uint32_t* dst = tiles.Writable(x, y);
        const int sx = x - offsetX;
        const int sy = y - offsetY;
        const std::uint32_t* from = tiles.TileMemory(sx >> gdi::kTileShift, sy >> gdi::kTileShift);
        if (from == nullptr) {
            // Never written by this copy, as it is not part of the area.
            std::fill(buffer, buffer + (end - x),
                      tiles.Uniform(sx >> gdi::kTileShift, sy >> gdi::kTileShift));
            CopyPixels(dst, buffer, end - x);
            return;
        }
        const std::uint32_t* src =
            from + ((sy & gdi::kTileMask) << gdi::kTileShift) + (sx & gdi::kTileMask);
        if (offsetY == 0 && src + (end - x) > dst && dst + (end - x) > src) {
            std::memmove(dst, src, static_cast<std::size_t>(end - x) * sizeof(std::uint32_t));
        } else {
            CopyPixels(dst, src, end - x);
        }
    };
    for (int j = 0; j <= lastY - firstY; ++j) {
        const int ty = bottomUp ? lastY - j : firstY + j;
        for (int i = 0; i <= lastX - firstX; ++i) {
            const int tx = rightToLeft ? lastX - i : firstX + i;
            const TilePart part = PartOfTile(target, area, tx, ty);
            // The source tiles of a tile a little ahead: by the time it is
            // reached, loaded.
            const std::uint32_t* aheadLeft = nullptr;
            const std::uint32_t* aheadRight = nullptr;
            const int ahead = j * (lastX - firstX + 1) + i + kTilesAhead;
            const int nextY = ahead / (lastX - firstX + 1);
            if (nextY <= lastY - firstY) {
                const int nextX = ahead % (lastX - firstX + 1);
                const int sourceX =
                    (((rightToLeft ? lastX - nextX : firstX + nextX) << gdi::kTileShift) -
                     offsetX) >>
                    gdi::kTileShift;
                const int sourceY =
                    (((bottomUp ? lastY - nextY : firstY + nextY) << gdi::kTileShift) - offsetY +
                     gdi::kTileMask) >>
                    gdi::kTileShift;
                if (sourceX >= 0 && sourceY >= 0) {
                    aheadLeft = tiles.TileMemoryOrNull(sourceX, sourceY);
                    aheadRight = tiles.TileMemoryOrNull(sourceX + 1, sourceY);
                }
            }
            const int sx = part.left - offsetX;
            const int shift = sx & gdi::kTileMask;
            if (part.right - part.left == gdi::kTileSide) {
                // Rows the whole tile across: first the source tile rows each
                // straddles, side by side, then the rows taken from them; all
                // copies of a fixed size, so inline. (Reading a row just
                // written at another alignment would stall the processor.)
                const int rows = part.bottom - part.top;
                for (int k = 0; k < rows; ++k) {
                    const int sy = part.top + k - offsetY;
                    gdi::PrefetchRow(aheadLeft, k);
                    gdi::PrefetchRow(aheadRight, k);
                    for (int half = 0; half < (shift != 0 ? 2 : 1); ++half) {
                        const int stx = (sx >> gdi::kTileShift) + half;
                        const std::uint32_t* from = tiles.TileMemory(stx, sy >> gdi::kTileShift);
                        std::uint32_t* out = staged + (2 * k + half) * gdi::kTileSide;
                        if (from != nullptr) {
                            std::memcpy(out, from + ((sy & gdi::kTileMask) << gdi::kTileShift),
                                        gdi::kTileSide * sizeof(std::uint32_t));
                        } else {
                            std::fill(out, out + gdi::kTileSide,
                                      tiles.Uniform(stx, sy >> gdi::kTileShift));
                        }
                    }
                }
                for (int k = 0; k < rows; ++k) {
                    std::memcpy(tiles.Writable(part.left, part.top + k),
                                staged + 2 * k * gdi::kTileSide + shift,
                                gdi::kTileSide * sizeof(std::uint32_t));
                }
                continue;
            }
            for (int k = 0; k < part.bottom - part.top; ++k) {
                const int y = bottomUp ? part.bottom - 1 - k : part.top + k;
                if (rightToLeft) {
                    for (int end = part.right; end > part.left;) {
                        const int x =
                            std::max(part.left, ((end - 1 - offsetX) & ~gdi::kTileMask) + offsetX);
                        piece(x, end, y);
                        end = x;
                    }
                } else {
                    for (int x = part.left; x < part.right;) {
                        const int end =
                            std::min(part.right, ((x - offsetX) | gdi::kTileMask) + 1 + offsetX);
                        piece(x, end, y);
                        x = end;
                    }
                }
            }
        }
    }
}

// Does `blit` from one bitmap into another, tile by tile: a destination
// tile whose result is one colour keeps no memory. Every tile written is
// made writable first: false, with no pixel changed, when one cannot be.
bool BlitTiles(const Blit& blit, const Area& area) {
    gdi::TiledPixels& tiles = *blit.target.tiles;
    const int firstX = static_cast<int>(area.left) >> gdi::kTileShift;
    const int lastX = static_cast<int>(area.right - 1) >> gdi::kTileShift;
    const int firstY = static_cast<int>(area.top) >> gdi::kTileShift;
    const int lastY = static_cast<int>(area.bottom - 1) >> gdi::kTileShift;
    // What a tile covered by a source of one colour becomes; false when it
    // needs its pixels.
    auto oneColour = [&](int tx, int ty, const TilePart& part, std::uint32_t* result) {
        std::uint32_t s = 0;
        if (blit.source.tiles == nullptr ||
            (!blit.pattern.Uniform() && gdi::RopUsesPattern(blit.code)) ||
            !blit.source.tiles->UniformArea(part.left - blit.offsetX, part.top - blit.offsetY,
                                            part.right - blit.offsetX, part.bottom - blit.offsetY,
                                            &s)) {
            return false;
        }
        if (blit.toMono) {
            s = s == gdi::kWhitePixel ? gdi::kWhitePixel : gdi::kBlackPixel;
        }
        const bool usesDestination = ((blit.code >> 1) & 0x55) != (blit.code & 0x55);
        if (tiles.TileMemory(tx, ty) != nullptr) {
            if (!part.whole || usesDestination) {
                return false;
            }
            *result = gdi::ApplyRop3(blit.code, blit.pattern.At(0, 0), s, 0);
            return true;
        }
        const std::uint32_t d = tiles.Uniform(tx, ty);
        *result = blit.code == 0xCC ? s : gdi::ApplyRop3(blit.code, blit.pattern.At(0, 0), s, d);
        return part.whole || *result == d;
    };
    for (int ty = firstY; ty <= lastY; ++ty) {
        for (int tx = firstX; tx <= lastX; ++tx) {
            std::uint32_t result;
            if (!oneColour(tx, ty, PartOfTile(blit.target, area, tx, ty), &result) &&
                !tiles.MakeWritable(tx, ty)) {
                return false;
            }
        }
    }
    // A plain copy whose tiles fall on the source's tiles.
    const bool aligned = blit.code == 0xCC && !blit.toMono && blit.source.tiles != nullptr &&
                         ((blit.offsetX | blit.offsetY) & gdi::kTileMask) == 0;
    for (int ty = firstY; ty <= lastY; ++ty) {
        for (int tx = firstX; tx <= lastX; ++tx) {
            const TilePart part = PartOfTile(blit.target, area, tx, ty);
            tiles.Prefetch(tx < lastX ? tx + 1 : firstX, tx < lastX ? ty : ty + 1);
            std::uint32_t result;
            if (aligned) {
                const int sourceX = tx - (blit.offsetX >> gdi::kTileShift);
                const int sourceY = ty - (blit.offsetY >> gdi::kTileShift);
                blit.source.tiles->Prefetch(tx < lastX ? sourceX + 1 : sourceX - (lastX - firstX),
                                            tx < lastX ? sourceY : sourceY + 1);
                const std::uint32_t* from = blit.source.tiles->TileMemory(sourceX, sourceY);
                if (part.whole && from != nullptr) {
                    // Tile onto tile, all of it.
                    std::memcpy(tiles.TileMemory(tx, ty), from,
                                gdi::kTilePixels * sizeof(std::uint32_t));
                    continue;
                }
            }
            if (oneColour(tx, ty, part, &result)) {
                tiles.SetUniform(tx, ty, result);
            } else {
                BlitPart(blit, Area{part.left, part.top, part.right, part.bottom}, false);
            }
        }
    }
    return true;
}

// A plain copy from a bitmap into a window's surface: the bitmap's tiles of
// one colour 0 are not read, and the surface's pixels under them are only
// cleared where they were not 0 already.
void CopyTilesToSurface(const Blit& blit, const Area& area) {
    platform::Surface& surface = *blit.target.surface;
    const RECT whole{0, 0, surface.width, surface.height};
    const RECT copied = ToRect(area);
    if (surface.fillPending && copied.left == 0 && copied.top == 0 && copied.right == whole.right &&
        copied.bottom == whole.bottom) {
        surface.fillPending = false;  // painted over in full
    }
    gdi::PrepareTarget(blit.target);
    int box[4];
    blit.source.tiles->InkBounds(copied.left - blit.offsetX, copied.top - blit.offsetY,
                                 copied.right - blit.offsetX, copied.bottom - blit.offsetY, box);
    const RECT ink = box[0] < box[2] ? RECT{box[0] + blit.offsetX, box[1] + blit.offsetY,
                                            box[2] + blit.offsetX, box[3] + blit.offsetY}
                                     : RECT{0, 0, 0, 0};
    const RECT before = platform::SurfaceInk(surface);
    const RECT clear{std::max(before.left, copied.left), std::max(before.top, copied.top),
                     std::min(before.right, copied.right), std::min(before.bottom, copied.bottom)};
    const std::size_t stride = static_cast<std::size_t>(surface.width);
    // Nothing to clear where the copy and what was drawn before do not meet.
    const bool clearing = clear.left < clear.right && clear.top < clear.bottom;
    for (LONG y = clear.top; clearing && y < clear.bottom; ++y) {
        std::uint32_t* row = surface.pixels + static_cast<std::size_t>(y) * stride;
        const bool inked = y >= ink.top && y < ink.bottom;
        const LONG inkLeft = inked ? std::clamp(ink.left, clear.left, clear.right) : clear.right;
        const LONG inkRight = inked ? std::clamp(ink.right, inkLeft, clear.right) : clear.right;
        std::fill(row + clear.left, row + inkLeft, gdi::kBlackPixel);
        std::fill(row + inkRight, row + clear.right, gdi::kBlackPixel);
    }
    for (LONG y = ink.top; y < ink.bottom; ++y) {
        blit.source.tiles->ReadRow(
            ink.left - blit.offsetX, y - blit.offsetY, ink.right - ink.left,
            surface.pixels + static_cast<std::size_t>(y) * stride + ink.left);
    }
    // What may now be other than 0: the ink, and what was so outside the copy.
    const bool covered = clear.left == before.left && clear.top == before.top &&
                         clear.right == before.right && clear.bottom == before.bottom;
    if (covered || before.left >= before.right) {
        surface.inked = ink;
    } else if (ink.left < ink.right) {
        surface.inked =
            RECT{std::min(before.left, ink.left), std::min(before.top, ink.top),
                 std::max(before.right, ink.right), std::max(before.bottom, ink.bottom)};
    }
    gdi::ReportChanged(blit.target, copied);
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
    if (pen == nullptr || !pen->visible || !target.Drawable()) {
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
    int lastX = walk.x;
    int lastY = walk.y;
    if (target.tiles != nullptr) {
        if (!MakeLineWritable(*target.tiles, walk)) {
            return FALSE;
        }
        // The tile is looked up again only when the line leaves it.
        gdi::TiledPixels& tiles = *target.tiles;
        int tileX = walk.x >> gdi::kTileShift;
        int tileY = walk.y >> gdi::kTileShift;
        std::uint32_t* tile = tiles.TileMemory(tileX, tileY);
        gdi::WalkLine(walk, [&](int px, int py) {
            if ((px >> gdi::kTileShift) != tileX || (py >> gdi::kTileShift) != tileY) {
                tileX = px >> gdi::kTileShift;
                tileY = py >> gdi::kTileShift;
                tile = tiles.TileMemory(tileX, tileY);
            }
            tile[((py & gdi::kTileMask) << gdi::kTileShift) + (px & gdi::kTileMask)] = pixel;
            lastX = px;
            lastY = py;
        });
    } else {
        const std::size_t stride = static_cast<std::size_t>(target.width);
        gdi::WalkLine(walk, [&](int px, int py) {
            target.pixels[static_cast<std::size_t>(py) * stride + px] = pixel;
            lastX = px;
            lastY = py;
        });
    }
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
    return FillArea(*dc, BlitArea(x, y, width, height), code) ? TRUE : FALSE;
}

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                   DWORD rop) {
    const gdi::Dc* dstDc = gdi::LookupDc(dest);
    const unsigned code = RopCode(rop);
    if (dstDc == nullptr) {
        return FALSE;
    }
    if (!gdi::RopUsesSource(code)) {
        return FillArea(*dstDc, BlitArea(x, y, width, height), code) ? TRUE : FALSE;
    }
    const gdi::Dc* srcDc = gdi::LookupDc(src);
    if (srcDc == nullptr) {
        return FALSE;
    }
    const gdi::Target target = gdi::PeekTarget(*dstDc);
    const gdi::Source source = gdi::ReadSource(*srcDc);
    const gdi::Brush* brush = gdi::LookupBrush(dstDc->brush);
    if (!target.Drawable() || !source.Readable() ||
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
    const Blit blit{target,
                    source,
                    static_cast<int>(offsetX),
                    static_cast<int>(offsetY),
                    code,
                    target.mono && !source.mono,
                    pattern};
    if (code == 0xCC && target.surface != nullptr && source.tiles != nullptr) {
        // A bitmap shown in a window: only its drawn tiles are copied.
        CopyTilesToSurface(blit, area);
        return TRUE;
    }
    gdi::PrepareTarget(target);
    const bool sameBuffer = (source.tiles != nullptr && source.tiles == target.tiles) ||
                            (source.pixels != nullptr && source.pixels == target.pixels);
    if (target.tiles != nullptr && !sameBuffer) {
        return BlitTiles(blit, area) ? TRUE : FALSE;
    }
    if (target.tiles != nullptr &&
        !target.tiles->MakeAreaWritable(static_cast<int>(area.left), static_cast<int>(area.top),
                                        static_cast<int>(area.right),
                                        static_cast<int>(area.bottom))) {
        return FALSE;
    }
    if (target.tiles != nullptr && code == 0xCC) {
        CopyWithinTiles(target, area, blit.offsetX, blit.offsetY);
    } else {
        BlitPart(blit, area, sameBuffer);
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
    if (!source.Readable() || x < 0 || y < 0 || x >= source.width || y >= source.height) {
        return CLR_INVALID;
    }
    return gdi::RgbFromPixel(source.Get(x, y));
}
