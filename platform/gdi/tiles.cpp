#include "platform/gdi/tiles.h"

#include <platform_extras.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/gdi/raster.h"

namespace platform {
namespace gdi {

namespace {

const std::size_t kTileBytes = kTilePixels * sizeof(std::uint32_t);

// Memory held by all tiles, and the most they may hold (0: no limit).
std::size_t tileBytes = 0;
std::size_t tileByteLimit = 0;
// Some tile could not be made.
bool tileFailed = false;

// Tiles are carved, one page each, from blocks of kBlockTiles made as
// needed, so that tiles made one after the other lie side by side in
// memory, and a tile no longer needed goes back to a list of spare ones.
// The blocks go once no tile is in use. Under AddressSanitizer each tile is
// a block of its own, so that the sanitizer knows its bounds.
#if defined(__SANITIZE_ADDRESS__)
const bool kPooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool kPooled = false;
#else
const bool kPooled = true;
#endif
#else
const bool kPooled = true;
#endif
const std::size_t kPage = 4096;
const std::size_t kBlockTiles = 256;
static_assert(kTileBytes == kPage, "a tile is one page");

// A block: a page whose start links the blocks, then the tiles.
void* blocks = nullptr;
std::size_t blockUsed = kBlockTiles;  // tiles handed out of the newest block
std::uint32_t* spare = nullptr;       // each spare tile's start links the next

std::uint32_t* TakeTile() {
    if (!kPooled) {
        return static_cast<std::uint32_t*>(std::malloc(kTileBytes));
    }
    if (spare != nullptr) {
        std::uint32_t* tile = spare;
        std::memcpy(&spare, tile, sizeof(spare));
        return tile;
    }
    if (blockUsed == kBlockTiles) {
        void* block = std::aligned_alloc(kPage, kPage + kBlockTiles * kTileBytes);
        if (block == nullptr) {
            return nullptr;
        }
        std::memcpy(block, &blocks, sizeof(blocks));
        blocks = block;
        blockUsed = 0;
    }
    char* tile = static_cast<char*>(blocks) + kPage + blockUsed++ * kTileBytes;
    return reinterpret_cast<std::uint32_t*>(tile);
}

void GiveBack(std::uint32_t* tile) {
    if (!kPooled) {
        std::free(tile);
        return;
    }
    std::memcpy(tile, &spare, sizeof(spare));
    spare = tile;
    if (tileBytes == 0) {
        while (blocks != nullptr) {
            void* next;
            std::memcpy(&next, blocks, sizeof(next));
            std::free(blocks);
            blocks = next;
        }
        blockUsed = kBlockTiles;
        spare = nullptr;
    }
}

std::uint32_t* NewTile() {
    std::uint32_t* pixels = nullptr;
    if (tileByteLimit == 0 || tileBytes + kTileBytes <= tileByteLimit) {
        pixels = TakeTile();
    }
    if (pixels == nullptr) {
        tileFailed = true;
        return nullptr;
    }
    tileBytes += kTileBytes;
    return pixels;
}

void FreeTile(std::uint32_t* pixels) {
    if (pixels != nullptr) {
        tileBytes -= kTileBytes;
        GiveBack(pixels);
    }
}

}  // namespace

void TiledPixels::SetMemoryLimit(std::size_t bytes) { tileByteLimit = bytes; }

std::size_t TiledPixels::MemoryInUse() { return tileBytes; }

bool TiledPixels::EverFailed() { return tileFailed; }

TiledPixels::~TiledPixels() { Release(); }

void TiledPixels::Release() {
    if (tiles_ != nullptr) {
        const std::size_t count = static_cast<std::size_t>(across_) * down_;
        for (std::size_t i = 0; i < count; ++i) {
            FreeTile(tiles_[i].pixels);
        }
    }
    tiles_.reset();
    width_ = height_ = across_ = down_ = 0;
}

bool TiledPixels::Reset(int width, int height) {
    Release();
    if (width <= 0 || height <= 0) {
        return false;
    }
    const int across = (width + kTileMask) >> kTileShift;
    const int down = (height + kTileMask) >> kTileShift;
    tiles_.reset(new (std::nothrow) Tile[static_cast<std::size_t>(across) * down]);
    if (tiles_ == nullptr) {
        return false;
    }
    width_ = width;
    height_ = height;
    across_ = across;
    down_ = down;
    return true;
}

bool TiledPixels::MakeWritable(int tx, int ty) {
    Tile& tile = At(tx, ty);
    if (tile.pixels != nullptr) {
        return true;
    }
    tile.pixels = NewTile();
    if (tile.pixels == nullptr) {
        return false;
    }
    FillPixels(tile.pixels, kTilePixels, tile.value);
    return true;
}

void TiledPixels::SetUniform(int tx, int ty, std::uint32_t value) {
    Tile& tile = At(tx, ty);
    FreeTile(tile.pixels);
    tile.pixels = nullptr;
    tile.value = value;
}

bool TiledPixels::MakeAreaWritable(int left, int top, int right, int bottom) {
    if (left >= right || top >= bottom) {
        return true;
    }
    for (int ty = top >> kTileShift; ty <= (bottom - 1) >> kTileShift; ++ty) {
        for (int tx = left >> kTileShift; tx <= (right - 1) >> kTileShift; ++tx) {
            if (!MakeWritable(tx, ty)) {
                return false;
            }
        }
    }
    return true;
}

const std::uint32_t* TiledPixels::ReadSpan(int x, int y, int limit, int* n,
                                           std::uint32_t* buffer) const {
    *n = std::min(limit, (x | kTileMask) + 1) - x;
    const Tile& tile = At(x >> kTileShift, y >> kTileShift);
    if (tile.pixels != nullptr) {
        return tile.pixels + Offset(x, y);
    }
    std::fill(buffer, buffer + *n, tile.value);
    return buffer;
}

void TiledPixels::ReadRow(int x, int y, int count, std::uint32_t* out) const {
    const int limit = x + count;
    while (x < limit) {
        const int n = std::min(limit, (x | kTileMask) + 1) - x;
        const Tile& tile = At(x >> kTileShift, y >> kTileShift);
        if (tile.pixels != nullptr && n == kTileSide) {
            // A fixed size: copied in place, without a call.
            std::memcpy(out, tile.pixels + Offset(x, y), kTileSide * sizeof(std::uint32_t));
        } else if (tile.pixels != nullptr) {
            std::copy(tile.pixels + Offset(x, y), tile.pixels + Offset(x, y) + n, out);
        } else {
            std::fill(out, out + n, tile.value);
        }
        out += n;
        x += n;
    }
}

bool TiledPixels::UniformArea(int left, int top, int right, int bottom,
                              std::uint32_t* value) const {
    const Tile& first = At(left >> kTileShift, top >> kTileShift);
    for (int ty = top >> kTileShift; ty <= (bottom - 1) >> kTileShift; ++ty) {
        for (int tx = left >> kTileShift; tx <= (right - 1) >> kTileShift; ++tx) {
            const Tile& tile = At(tx, ty);
            if (tile.pixels != nullptr || tile.value != first.value) {
                return false;
            }
        }
    }
    *value = first.value;
    return true;
}

void TiledPixels::InkBounds(int left, int top, int right, int bottom, int* box) const {
    box[0] = box[1] = box[2] = box[3] = 0;
    if (left >= right || top >= bottom) {
        return;
    }
    int tl = across_, tt = down_, tr = -1, tb = -1;
    for (int ty = top >> kTileShift; ty <= (bottom - 1) >> kTileShift; ++ty) {
        for (int tx = left >> kTileShift; tx <= (right - 1) >> kTileShift; ++tx) {
            const Tile& tile = At(tx, ty);
            if (tile.pixels != nullptr || tile.value != 0) {
                tl = std::min(tl, tx);
                tt = std::min(tt, ty);
                tr = std::max(tr, tx);
                tb = std::max(tb, ty);
            }
        }
    }
    if (tr < 0) {
        return;
    }
    box[0] = std::max(left, tl << kTileShift);
    box[1] = std::max(top, tt << kTileShift);
    box[2] = std::min(right, (tr + 1) << kTileShift);
    box[3] = std::min(bottom, (tb + 1) << kTileShift);
}

}  // namespace gdi
}  // namespace platform

BOOL PlatformDrawingFailed(void) { return platform::gdi::TiledPixels::EverFailed() ? TRUE : FALSE; }
