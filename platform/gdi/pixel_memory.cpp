#include "platform/gdi/pixel_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

const std::size_t kHugePage = 2 * 1024 * 1024;
const std::size_t kPage = 4096;
// Below this a block goes to the usual allocator: a huge page would waste
// more than it saves. Under AddressSanitizer every block does, so that the
// sanitizer knows the bounds of the pixels and applies its allocation limits
// to them. So does every block in WebAssembly, which has no huge pages and
// whose mmap only takes a block from the allocator and clears it.
#if defined(__SANITIZE_ADDRESS__) || defined(__EMSCRIPTEN__)
const std::size_t kLargeBlock = SIZE_MAX;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const std::size_t kLargeBlock = SIZE_MAX;
#else
const std::size_t kLargeBlock = kHugePage;
#endif
#else
const std::size_t kLargeBlock = kHugePage;
#endif

// Stored just before the pixels: where the block came from. A length of 0
// means the usual allocator, with `base` the pointer it gave.
struct Header {
    void* base;
    std::size_t length;
};
const std::size_t kHeaderSpace = 16;
static_assert(sizeof(Header) <= kHeaderSpace, "the header fits before the pixels");

Header* HeaderOf(std::uint32_t* pixels) {
    return reinterpret_cast<Header*>(reinterpret_cast<char*>(pixels) - kHeaderSpace);
}

// A cleared block from the usual allocator.
char* ClearedBlock(std::size_t bytes) {
#if defined(__EMSCRIPTEN__)
    // The allocator takes its memory from the top of the heap (sbrk), and
    // WebAssembly memory is zero until it is first written: only the part of
    // the block below the old top can hold anything. Clearing the rest, as
    // calloc does, would fault in all of its pages at once. This holds as
    // long as the top never comes down: Emscripten's dlmalloc, which the web
    // build names (platform/backends/CMakeLists.txt), never gives memory
    // back (MORECORE_CANNOT_TRIM).
    char* const untouched = static_cast<char*>(sbrk(0));
    char* block = static_cast<char*>(std::malloc(bytes));
    if (block != nullptr && block < untouched) {
        std::memset(block, 0, std::min(bytes, static_cast<std::size_t>(untouched - block)));
    }
    return block;
#else
    return static_cast<char*>(std::calloc(1, bytes));
#endif
}

}  // namespace

std::uint32_t* AllocatePixelMemory(std::size_t count) {
    if (count == 0 || count > (SIZE_MAX - 2 * kHugePage) / sizeof(std::uint32_t)) {
        return nullptr;
    }
    std::size_t bytes = count * sizeof(std::uint32_t);
    if (bytes < kLargeBlock) {
        char* block = ClearedBlock(bytes + kHeaderSpace);
        if (block == nullptr) {
            return nullptr;
        }
        std::uint32_t* pixels = reinterpret_cast<std::uint32_t*>(block + kHeaderSpace);
        *HeaderOf(pixels) = Header{block, 0};
        return pixels;
    }
    // Room to put the pixels on a 2 MiB boundary with a page for the header
    // before it. Only what is touched is ever allocated.
    std::size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    std::size_t length = rounded + kHugePage + kPage;
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        return nullptr;
    }
    std::uintptr_t start = reinterpret_cast<std::uintptr_t>(base) + kPage;
    start = (start + kHugePage - 1) & ~static_cast<std::uintptr_t>(kHugePage - 1);
    std::uint32_t* pixels = reinterpret_cast<std::uint32_t*>(start);
#ifdef MADV_HUGEPAGE
    // Advice only: without transparent huge pages the block still works.
    madvise(pixels, rounded, MADV_HUGEPAGE);
#endif
    *HeaderOf(pixels) = Header{base, length};
    return pixels;
}

void FreePixelMemory(std::uint32_t* pixels) {
    if (pixels == nullptr) {
        return;
    }
    Header header = *HeaderOf(pixels);
    if (header.length == 0) {
        std::free(header.base);
    } else {
        munmap(header.base, header.length);
    }
}

}  // namespace platform
