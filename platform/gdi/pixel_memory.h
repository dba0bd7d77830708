// Memory for bitmaps and client pixels.
//
// A freshly made canvas or client area is written in full at once (filled,
// erased, copied into). Memory from the usual allocator then faults in one
// 4 KiB page at a time, which costs more than the writing itself. Large
// blocks therefore come straight from the kernel, aligned to 2 MiB and
// marked for transparent huge pages, so that they fault in once per 2 MiB.
// In WebAssembly, whose memory is zero until first written, blocks come
// from the allocator, cleared only where it had handed memory out before.
#ifndef OSTREVANE_PLATFORM_GDI_PIXEL_MEMORY_H
#define OSTREVANE_PLATFORM_GDI_PIXEL_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// `count` zeroed pixels, or nullptr if there is no memory for them (or
// `count` is 0 or absurd). Free them with FreePixelMemory.
std::uint32_t* AllocatePixelMemory(std::size_t count);

// Frees what AllocatePixelMemory gave; nullptr is ignored.
void FreePixelMemory(std::uint32_t* pixels);

struct PixelMemoryDeleter {
    void operator()(std::uint32_t* pixels) const { FreePixelMemory(pixels); }
};
typedef std::unique_ptr<std::uint32_t[], PixelMemoryDeleter> PixelMemory;

}  // namespace platform

#endif  // OSTREVANE_PLATFORM_GDI_PIXEL_MEMORY_H
