// The pixels of a bitmap, kept in square tiles that take memory only once
// they are drawn on.
//
// A tile is 32x32 pixels: 4 KiB, one page, so that a tile's memory is
// exactly what the kernel commits for it, and a one-pixel line of the
// figure crosses few of them. A tile never written, or last filled whole
// with one colour, holds only that colour; reading it reads no pixel
// memory. Tiles on the right and bottom edges are whole tiles too; the
// pixels past the bitmap's edge are never read.
//
// Making a tile's memory can fail: callers reserve every tile a drawing call
// will write before writing any, so that a call either draws all of its
// pixels or fails with the bitmap as it was.
#ifndef OSTREVANE_PLATFORM_GDI_TILES_H
#define OSTREVANE_PLATFORM_GDI_TILES_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {
namespace gdi {

const int kTileShift = 5;
const int kTileSide = 1 << kTileShift;
const int kTileMask = kTileSide - 1;
const std::size_t kTilePixels = std::size_t(kTileSide) * kTileSide;

// Asks the processor to start loading row `row` of a tile's memory (none
// when `tile` is null): spread over the work on another tile, so that the
// loads ahead never crowd out the work's own.
inline void PrefetchRow(const std::uint32_t* tile, int row) {
#if defined(__GNUC__)
    if (tile != nullptr) {
        const std::uint32_t* start = tile + (static_cast<std::size_t>(row) << kTileShift);
        __builtin_prefetch(start);
        __builtin_prefetch(start + kTileSide / 2);
    }
#else
    (void)tile;
    (void)row;
#endif
}

class TiledPixels {
public:
    // A width x height bitmap of one colour, 0. False (and no bitmap) when
    // there is no memory even for the table of tiles.
    bool Reset(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int TilesAcross() const { return across_; }
    int TilesDown() const { return down_; }

    // Tile (tx, ty): its pixels (rows of kTileSide), or null when it holds
    // one colour, Uniform().
    std::uint32_t* TileMemory(int tx, int ty) const { return At(tx, ty).pixels; }
    std::uint32_t Uniform(int tx, int ty) const { return At(tx, ty).value; }

    // Gives tile (tx, ty) memory, filled with its colour; false when there
    // is none to be had (the tile is as it was).
    bool MakeWritable(int tx, int ty);
    // Tile (tx, ty) holds `value` everywhere and no memory.
    void SetUniform(int tx, int ty, std::uint32_t value);
    // Makes every tile meeting [left, right) x [top, bottom) writable; false
    // when one cannot be (those made so far keep their pixels).
    bool MakeAreaWritable(int left, int top, int right, int bottom);

    std::uint32_t Get(int x, int y) const {
        const Tile& tile = At(x >> kTileShift, y >> kTileShift);
        return tile.pixels != nullptr ? tile.pixels[Offset(x, y)] : tile.value;
    }
    // Pixel (x, y) of a writable tile.
    std::uint32_t* Writable(int x, int y) const {
        return At(x >> kTileShift, y >> kTileShift).pixels + Offset(x, y);
    }
    // Pixels x .. x + n - 1 of row y, n at most `limit` - x and never past
    // the tile: in the tile's memory, or for a one-colour tile in `buffer`
    // (kTileSide pixels), filled with its colour.
    const std::uint32_t* ReadSpan(int x, int y, int limit, int* n, std::uint32_t* buffer) const;
    // Asks the processor to start loading tile (tx, ty), if it is inside
    // the bitmap and has memory: tiles lie apart in memory, so the loading
    // ahead that a flat block gets for nothing stops at each one.
    void Prefetch(int tx, int ty) const {
#if defined(__GNUC__)
        if (tx < across_ && ty < down_) {
            const char* bytes = reinterpret_cast<const char*>(At(tx, ty).pixels);
            if (bytes != nullptr) {
                for (std::size_t line = 0; line < kTilePixels * 4; line += 64) {
                    __builtin_prefetch(bytes + line);
                }
            }
        }
#else
        (void)tx;
        (void)ty;
#endif
    }
    // TileMemory(tx, ty), or null when (tx, ty) is outside the bitmap.
    std::uint32_t* TileMemoryOrNull(int tx, int ty) const {
        return tx >= 0 && ty >= 0 && tx < across_ && ty < down_ ? At(tx, ty).pixels : nullptr;
    }
    // Copies `count` pixels of row y from x on to `out`.
    void ReadRow(int x, int y, int count, std::uint32_t* out) const;
    // Whether every pixel of [left, right) x [top, bottom) (not empty) is in
    // one-colour tiles of the same colour, and that colour.
    bool UniformArea(int left, int top, int right, int bottom, std::uint32_t* value) const;
    // The bounding box, in pixels clipped to the bitmap, of the tiles
    // meeting the given area that hold memory or a colour other than 0.
    // Empty (right <= left) when there are none.
    void InkBounds(int left, int top, int right, int bottom, int* box) const;

    // Limits the memory all tiles together may take (0: no limit), so that
    // running out of it can be tested; and the memory they take now.
    static void SetMemoryLimit(std::size_t bytes);
    static std::size_t MemoryInUse();
    // Whether a tile's memory has ever been refused.
    static bool EverFailed();

    TiledPixels() = default;
    ~TiledPixels();
    TiledPixels(const TiledPixels&) = delete;
    TiledPixels& operator=(const TiledPixels&) = delete;

private:
    struct Tile {
        std::uint32_t* pixels = nullptr;
        std::uint32_t value = 0;
    };
    const Tile& At(int tx, int ty) const {
        return tiles_[static_cast<std::size_t>(ty) * static_cast<std::size_t>(across_) +
                      static_cast<std::size_t>(tx)];
    }
    Tile& At(int tx, int ty) {
        return tiles_[static_cast<std::size_t>(ty) * static_cast<std::size_t>(across_) +
                      static_cast<std::size_t>(tx)];
    }
    static std::size_t Offset(int x, int y) {
        return (static_cast<std::size_t>(y & kTileMask) << kTileShift) +
               static_cast<std::size_t>(x & kTileMask);
    }
    void Release();

    int width_ = 0;
    int height_ = 0;
    int across_ = 0;
    int down_ = 0;
    std::unique_ptr<Tile[]> tiles_;
};

}  // namespace gdi
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_GDI_TILES_H
