// Client pixels in wl_shm buffers; see shm_buffers.h. One commit per frame
// callback, damaging only what changed.
#include "platform/backends/wayland/shm_buffers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "platform/backends/wayland/wayland_display.h"

namespace platform {
namespace wayland {

namespace {

RECT Union(const RECT& a, const RECT& b) {
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

bool IsEmpty(const RECT& area) { return area.right <= area.left || area.bottom <= area.top; }

void BufferHandleRelease(void* data, wl_buffer*) { static_cast<ShmBuffer*>(data)->busy = false; }

const wl_buffer_listener kBufferListener = {BufferHandleRelease};

void FrameHandleDone(void* data, wl_callback* callback, std::uint32_t) {
    auto* window = static_cast<NativeWindow*>(data);
    if (window->frame.get() == callback) {
        window->frame.reset();
    } else {
        wl_callback_destroy(callback);
    }
}

const wl_callback_listener kFrameListener = {FrameHandleDone};

// Every filled buffer lacks `area` from now on.
void MarkStale(ShmBuffer* buffers, const RECT& area) {
    for (int i = 0; i < kBuffersPerWindow; ++i) {
        ShmBuffer& buffer = buffers[i];
        if (buffer.pixels != nullptr && !buffer.stale) {
            buffer.staleArea = IsEmpty(buffer.staleArea) ? area : Union(buffer.staleArea, area);
        }
    }
}

// Copies `area` of `source` into `to`, rows `width` pixels apart.
void CopyRows(std::uint32_t* to, int width, const ClientPixels& source, const RECT& area) {
    for (LONG y = area.top; y < area.bottom; ++y) {
        std::memcpy(to + static_cast<std::size_t>(y) * width + area.left,
                    source.rows + static_cast<std::size_t>(y) * source.stride + area.left,
                    static_cast<std::size_t>(area.right - area.left) * sizeof(std::uint32_t));
    }
}

// Gives `chosen` what it lacks of `source`. The unused top byte is set:
// XRGB8888 ignores it, but compositors that copy the output into an image
// with alpha (screenshots) keep it, and 0 there would make the window
// transparent. Outside the source's ink every pixel is black, and is not
// read.
void CatchUp(ShmBuffer* chosen, const ClientPixels& source) {
    const RECT copy = chosen->stale ? RECT{0, 0, chosen->width, chosen->height} : chosen->staleArea;
    const std::uint32_t kOpaqueBlack = 0xFF000000u;
    for (LONG y = copy.top; y < copy.bottom; ++y) {
        std::uint32_t* to = chosen->pixels + static_cast<std::size_t>(y) * chosen->width;
        const bool inked = y >= source.ink.top && y < source.ink.bottom;
        const LONG left = inked ? std::clamp(source.ink.left, copy.left, copy.right) : copy.right;
        const LONG right = inked ? std::clamp(source.ink.right, left, copy.right) : copy.right;
        std::fill(to + copy.left, to + left, kOpaqueBlack);
        const std::uint32_t* from = source.rows + static_cast<std::size_t>(y) * source.stride;
        for (LONG x = left; x < right; ++x) {
            to[x] = from[x] | kOpaqueBlack;
        }
        std::fill(to + right, to + copy.right, kOpaqueBlack);
    }
    chosen->stale = false;
    chosen->staleArea = RECT{0, 0, 0, 0};
}

// All of `width` x `height` pixels at `pixels`, `width` apart.
ClientPixels WholeOf(const std::uint32_t* pixels, int width, int height) {
    ClientPixels whole;
    whole.rows = pixels;
    whole.stride = static_cast<std::size_t>(width);
    whole.width = width;
    whole.height = height;
    whole.ink = RECT{0, 0, width, height};
    return whole;
}

}  // namespace

Mapping::Mapping(Mapping&& other) noexcept
    : data(std::exchange(other.data, nullptr)), size(std::exchange(other.size, 0)) {}

Mapping& Mapping::operator=(Mapping&& other) noexcept {
    if (this != &other) {
        if (data != nullptr) {
            munmap(data, size);
        }
        data = std::exchange(other.data, nullptr);
        size = std::exchange(other.size, 0);
    }
    return *this;
}

Mapping::~Mapping() {
    if (data != nullptr) {
        munmap(data, size);
    }
}

ShmBuffer* PickBuffer(ShmBuffer* buffers, int width, int height) {
    for (int i = 0; i < kBuffersPerWindow; ++i) {
        if (buffers[i].pixels != nullptr &&
            (buffers[i].width != width || buffers[i].height != height)) {
            buffers[i].Reset();
        }
    }
    for (int i = 0; i < kBuffersPerWindow; ++i) {
        if (buffers[i].pixels != nullptr && !buffers[i].busy) {
            return &buffers[i];
        }
    }
    for (int i = 0; i < kBuffersPerWindow; ++i) {
        if (buffers[i].pixels == nullptr) {
            return &buffers[i];
        }
    }
    return nullptr;
}

bool MakeShmBuffer(wl_shm* shm, int width, int height, ShmBuffer* buffer, std::string* error) {
    std::size_t stride = static_cast<std::size_t>(width) * 4;
    std::size_t size = stride * static_cast<std::size_t>(height);
    if (size > static_cast<std::size_t>(INT32_MAX)) {
        *error = "more than wl_shm's 2 GiB";  // pools are sized in 32 bits
        return false;
    }
    int fd = memfd_create("ostrevane-buffer", MFD_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        *error = std::strerror(errno);
        close(fd);
        return false;
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        *error = std::strerror(errno);
        close(fd);
        return false;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(size));
    close(fd);
    buffer->Reset();
    buffer->buffer.reset(wl_shm_pool_create_buffer(
        pool, 0, width, height, static_cast<std::int32_t>(stride), WL_SHM_FORMAT_XRGB8888));
    wl_shm_pool_destroy(pool);
    buffer->mapping = Mapping(data, size);
    buffer->pixels = static_cast<std::uint32_t*>(data);
    buffer->width = width;
    buffer->height = height;
    wl_buffer_add_listener(buffer->buffer.get(), &kBufferListener, buffer);
    return true;
}

void FillBuffer(ShmBuffer* buffers, ShmBuffer* chosen, const ClientPixels& source,
                const RECT& damage) {
    MarkStale(buffers, damage);
    CatchUp(chosen, source);
}

bool WindowBuffers::Store(const ClientPixels& pixels, const RECT& area, const BufferMaker& make,
                          std::string* error) {
    if (pixels.width != width || pixels.height != height) {
        width = pixels.width;
        height = pixels.height;
        latest = nullptr;
        pending.reset();
    }
    damage = hasDamage ? Union(damage, area) : area;
    hasDamage = true;
    if (pending == nullptr) {
        ShmBuffer* chosen =
            latest != nullptr && !latest->busy ? latest : PickBuffer(slots, width, height);
        if (chosen != nullptr) {
            if (chosen->pixels == nullptr && !make(chosen, width, height, error)) {
                return false;
            }
            FillBuffer(slots, chosen, pixels, area);
            latest = chosen;
            return true;
        }
        // The compositor holds both: all of the pixels wait here.
        pending.reset(new (std::nothrow) std::uint32_t[static_cast<std::size_t>(width) * height]);
        if (pending == nullptr) {
            *error = "out of memory";
            return false;
        }
        CopyRows(pending.get(), width, pixels, RECT{0, 0, width, height});
    } else {
        CopyRows(pending.get(), width, pixels, area);
    }
    MarkStale(slots, area);
    return true;
}

ShmBuffer* WindowBuffers::TakeForCommit(const BufferMaker& make, RECT* shown, std::string* error) {
    const RECT area = {damage.left, damage.top, std::min(damage.right, static_cast<LONG>(width)),
                       std::min(damage.bottom, static_cast<LONG>(height))};
    if (!hasDamage || IsEmpty(area) || (latest == nullptr && pending == nullptr)) {
        hasDamage = false;
        return nullptr;
    }
    // The buffer Present filled last, unless the window's own copy is newer.
    ShmBuffer* chosen = pending != nullptr ? PickBuffer(slots, width, height) : latest;
    if (chosen == nullptr) {
        return nullptr;  // both are held: the next release brings this back
    }
    if (pending != nullptr) {
        if (chosen->pixels == nullptr && !make(chosen, width, height, error)) {
            return nullptr;
        }
        CatchUp(chosen, WholeOf(pending.get(), width, height));
        pending.reset();
    }
    latest = chosen;
    chosen->busy = true;
    hasDamage = false;
    *shown = area;
    return chosen;
}

void WindowBuffers::Forget() {
    hasDamage = false;
    for (ShmBuffer& buffer : slots) {
        buffer.stale = true;
    }
}

void WaylandBackend::Present(WindowId id, const ClientPixels& pixels, const RECT& area) {
    auto found = windows_.find(id);
    // Until the compositor configures the window's role it shows nothing,
    // and may give it another size: its first configure asks for all of it
    // (Configured).
    if (found == windows_.end() || lost_ || !found->second.configured) {
        return;
    }
    std::string error;
    if (!found->second.buffers.Store(pixels, area, MakeBuffer(), &error)) {
        FailForBuffer(pixels.width, pixels.height, error);
    }
}

void WaylandBackend::CommitReadyWindows() {
    for (auto& entry : windows_) {
        if (lost_) {
            return;
        }
        NativeWindow& window = entry.second;
        if (window.HasRole() && window.configured && window.buffers.hasDamage &&
            window.frame == nullptr) {
            Commit(&window);
        }
    }
}

// Shows the window's damage from a free buffer, if there is one; a buffer
// that cannot be made ends the display, as a lost connection does.
void WaylandBackend::Commit(NativeWindow* window) {
    RECT damage;
    std::string error;
    ShmBuffer* chosen = window->buffers.TakeForCommit(MakeBuffer(), &damage, &error);
    if (chosen == nullptr) {
        if (!error.empty()) {
            FailForBuffer(window->buffers.width, window->buffers.height, error);
        }
        return;
    }
    wl_surface* surface = window->surface.get();
    wl_surface_attach(surface, chosen->buffer.get(), 0, 0);
    if (compositorVersion_ >= 4) {
        wl_surface_damage_buffer(surface, damage.left, damage.top, damage.right - damage.left,
                                 damage.bottom - damage.top);
    } else {
        wl_surface_damage(surface, damage.left, damage.top, damage.right - damage.left,
                          damage.bottom - damage.top);
    }
    window->frame.reset(wl_surface_frame(surface));
    wl_callback_add_listener(window->frame.get(), &kFrameListener, window);
    wl_surface_commit(surface);
}

BufferMaker WaylandBackend::MakeBuffer() {
    return [this](ShmBuffer* buffer, int width, int height, std::string* error) {
        return MakeShmBuffer(shm_.get(), width, height, buffer, error);
    };
}

void WaylandBackend::FailForBuffer(int width, int height, const std::string& error) {
    Fail("cannot make a " + std::to_string(width) + "x" + std::to_string(height) +
         " pixel buffer for " + CompositorTitle(name_) + " (" + error + ")");
}

}  // namespace wayland
}  // namespace platform
