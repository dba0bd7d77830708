// Client pixels in wl_shm buffers, and what each buffer still lacks.
//
// A window shows its pixels from two XRGB8888 buffers (the window manager's
// 0x00RRGGBB byte for byte). Present copies what changed into a buffer the
// compositor does not hold, which the next commit attaches; a buffer the
// compositor holds is never written. Each buffer remembers the area that
// changed since it was last filled, and is brought up to date when it is
// chosen again: only that area is copied, and only the new damage is sent.
// When the compositor holds both buffers at Present, the window keeps a
// copy of all its pixels of its own until a buffer comes free.
#ifndef OSTREVANE_PLATFORM_BACKENDS_WAYLAND_SHM_BUFFERS_H
#define OSTREVANE_PLATFORM_BACKENDS_WAYLAND_SHM_BUFFERS_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/backends/backend.h"
#include "platform/backends/wayland/protocol_objects.h"

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
void FillBuffer(ShmBuffer* buffers, ShmBuffer* chosen, const ClientPixels& source,
                const RECT& damage);

// Makes a width x height buffer in an empty slot; false, with a reason in
// `error`, if it cannot.
typedef std::function<bool(ShmBuffer* buffer, int width, int height, std::string* error)>
    BufferMaker;

// A window's buffers, and the pixels presented that no commit has shown.
struct WindowBuffers {
    ShmBuffer slots[kBuffersPerWindow];
    // The size of the client pixels last presented; 0 before the first.
    int width = 0;
    int height = 0;
    // The buffer filled last: it holds all of the pixels presented, unless
    // `pending` holds newer ones. Null when there is none of this size.
    ShmBuffer* latest = nullptr;
    // All of the client pixels, when both buffers were held at Present
    // (null otherwise); newer than any buffer.
    std::unique_ptr<std::uint32_t[]> pending;
    // What the next commit shows anew.
    bool hasDamage = false;
    RECT damage = {0, 0, 0, 0};

    // Copies `area` of `pixels` in (see above). False, with a reason in
    // `error`, when the memory for them cannot be had.
    bool Store(const ClientPixels& pixels, const RECT& area, const BufferMaker& make,
               std::string* error);
    // The buffer the next commit attaches, up to date, marked held, and
    // what it shows anew in `damage`. Null when there is nothing to show,
    // while both buffers are held and the window's own copy waits, or with
    // a reason in `error` when a buffer cannot be made.
    ShmBuffer* TakeForCommit(const BufferMaker& make, RECT* damage, std::string* error);
    // The window was hidden: what it showed is gone, and the next buffer
    // shown is filled whole.
    void Forget();
};

}  // namespace wayland
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_WAYLAND_SHM_BUFFERS_H
