// Client pixels in wl_shm buffers, and what each buffer still lacks.
//
// A window shows its pixels from two XRGB8888 buffers (the window manager's
// 0x00RRGGBB byte for byte). A buffer the compositor holds is never written:
// each buffer remembers the area that changed since it was last filled, and
// is brought up to date when it is chosen again. Only that area is copied,
// and only the new damage is sent.
#ifndef OSTREVANE_PLATFORM_BACKENDS_WAYLAND_SHM_BUFFERS_H
#define OSTREVANE_PLATFORM_BACKENDS_WAYLAND_SHM_BUFFERS_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/backends/wayland/protocol_objects.h"
#include "platform/gdi/surface.h"

namespace platform {
namespace wayland {

// A shared memory mapping, unmapped with its owner.
struct Mapping {
    Mapping() = default;
    Mapping(void* data, std::size_t size) : data(data), size(size) {}
    Mapping(Mapping&& other) noexcept;
    Mapping& operator=(Mapping&& other) noexcept;
    ~Mapping();
    void* data = nullptr;
    std::size_t size = 0;
};

struct ShmBuffer {
    Owned<wl_buffer> buffer;
    Mapping mapping;
    // Where the buffer's pixels are; null while there is no buffer.
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    bool busy = false;  // the compositor holds it until release
    // Never filled since made (or since the window was shown again): the
    // whole buffer is lacking. Otherwise `staleArea` is (empty if nothing).
    bool stale = true;
    RECT staleArea = {0, 0, 0, 0};

    void Reset() { *this = ShmBuffer(); }
};

constexpr int kBuffersPerWindow = 2;

// The buffer to fill next for a width x height surface: a free one of that
// size, else an empty slot to make one in (pixels == nullptr), else null
// (both are held). Buffers of another size are dropped first; the
// compositor keeps its own reference to the memory of one it still reads.
ShmBuffer* PickBuffer(ShmBuffer* buffers, int width, int height);

// Makes `buffer` a width x height XRGB8888 buffer of `shm`, its release
// reported to the buffer itself. False, with a reason in `error`, when the
// memory cannot be had.
bool MakeShmBuffer(wl_shm* shm, int width, int height, ShmBuffer* buffer, std::string* error);

// Brings `chosen`, one of the window's free buffers, up to date with
// `source` after `damage` (inside the source) changed: every other filled
// buffer adds the damage to what it lacks, and the chosen one gets what it
// lacked and the damage copied in.
void FillBuffer(ShmBuffer* buffers, ShmBuffer* chosen, const Surface& source, const RECT& damage);

}  // namespace wayland
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_WAYLAND_SHM_BUFFERS_H
