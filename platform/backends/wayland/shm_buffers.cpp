// Client pixels in wl_shm buffers; see shm_buffers.h. One commit per frame
// callback, damaging only what changed.
#include "platform/backends/wayland/shm_buffers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

void FillBuffer(ShmBuffer* buffers, ShmBuffer* chosen, const Surface& source, const RECT& damage) {
    for (int i = 0; i < kBuffersPerWindow; ++i) {
        ShmBuffer& buffer = buffers[i];
        if (buffer.pixels != nullptr && !buffer.stale) {
            buffer.staleArea = IsEmpty(buffer.staleArea) ? damage : Union(buffer.staleArea, damage);
        }
    }
    RECT copy = chosen->stale ? RECT{0, 0, chosen->width, chosen->height} : chosen->staleArea;
    // The unused top byte is set: XRGB8888 ignores it, but compositors that
    // copy the output into an image with alpha (screenshots) keep it, and 0
    // there would make the window transparent.
    for (LONG y = copy.top; y < copy.bottom; ++y) {
        const std::uint32_t* from = SurfaceRow(source, static_cast<int>(y)) + copy.left;
        std::uint32_t* to =
            chosen->pixels + static_cast<std::size_t>(y) * chosen->width + copy.left;
        for (LONG x = copy.left; x < copy.right; ++x) {
            *to++ = *from++ | 0xFF000000u;
        }
    }
    chosen->stale = false;
    chosen->staleArea = RECT{0, 0, 0, 0};
}

void WaylandBackend::Present(WindowId id, const Surface& surface, const RECT& area) {
    auto found = windows_.find(id);
    if (found == windows_.end() || lost_ || surface.pixels == nullptr) {
        return;
    }
    RECT clipped = ClipToSurface(surface, area);
    if (IsEmpty(clipped)) {
        return;
    }
    NativeWindow& window = found->second;
    window.source = &surface;
    window.damage = window.hasDamage ? Union(window.damage, clipped) : clipped;
    window.hasDamage = true;
}

void WaylandBackend::CommitReadyWindows() {
    for (auto& entry : windows_) {
        if (lost_) {
            return;
        }
        NativeWindow& window = entry.second;
        if (window.HasRole() && window.configured && window.hasDamage && window.frame == nullptr &&
            window.source != nullptr) {
            Commit(&window);
        }
    }
}

// Shows the window's damage from a free buffer, if there is one; a buffer
// that cannot be made ends the display, as a lost connection does.
void WaylandBackend::Commit(NativeWindow* window) {
    const Surface& source = *window->source;
    int width = source.width;
    int height = source.height;
    if (source.pixels == nullptr || width <= 0 || height <= 0) {
        return;
    }
    ShmBuffer* chosen = PickBuffer(window->buffers, width, height);
    if (chosen == nullptr) {
        return;  // both are held: the next release brings this back
    }
    std::string error;
    if (chosen->pixels == nullptr && !MakeShmBuffer(shm_.get(), width, height, chosen, &error)) {
        Fail("cannot make a " + std::to_string(width) + "x" + std::to_string(height) +
             " pixel buffer for Wayland compositor \"" + name_ + "\" (" + error + ")");
        return;
    }
    RECT damage = {window->damage.left, window->damage.top,
                   std::min(window->damage.right, static_cast<LONG>(width)),
                   std::min(window->damage.bottom, static_cast<LONG>(height))};
    window->hasDamage = false;
    if (IsEmpty(damage)) {
        return;
    }
    FillBuffer(window->buffers, chosen, source, damage);
    chosen->busy = true;

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

}  // namespace wayland
}  // namespace platform
