// The Wayland display.
//
// Each Win32 window is one xdg_toplevel whose whole surface is the client
// area: the caption and frame are the compositor's (xdg-decoration asked
// for server-side ones) or, where the compositor offers no xdg-decoration,
// libdecor's, drawn around the surface. Client pixels go to two wl_shm buffers per window
// in XRGB8888, which is the window manager's 0x00RRGGBB byte for byte. A
// buffer the compositor holds is never written: each buffer remembers what
// changed since it was last filled, and is brought up to date when it is
// free again. One commit per frame callback; only the changed area is
// damaged. Nothing is ever drawn at more than scale 1: on a scaled output
// the compositor scales the window, as for a Win32 program that declares no
// DPI awareness.
#include "platform/backends/wayland/wayland_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <vector>

#if OSTREVANE_HAVE_LIBDECOR
#include <libdecor.h>
#endif

#include "platform/gdi/surface.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace platform {
namespace wayland {

namespace {

const int kMaxClientSide = kMaxSurfaceSide;
// Keymaps are tens of kilobytes; a larger one is refused.
const std::uint32_t kMaxKeymapBytes = 16u << 20;
// The screen reported while the compositor has announced no output.
const int kFallbackScreenWidth = 1024;
const int kFallbackScreenHeight = 768;

// libwayland's own report of a protocol error (it logs the compositor's
// message before the call that meets the error fails), kept for the
// program's one line instead of going to stderr by itself.
std::string lastWaylandMessage;

void KeepWaylandMessage(const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof(text), format, arguments);
    lastWaylandMessage = text;
    while (!lastWaylandMessage.empty() &&
           (lastWaylandMessage.back() == '\n' || lastWaylandMessage.back() == ' ')) {
        lastWaylandMessage.pop_back();
    }
}

class WaylandBackend;

struct Output {
    WaylandBackend* owner = nullptr;
    std::uint32_t name = 0;  // the registry's
    wl_output* output = nullptr;
    zxdg_output_v1* xdgOutput = nullptr;
    int modeWidth = 0;
    int modeHeight = 0;
    int transform = WL_OUTPUT_TRANSFORM_NORMAL;
    int scale = 1;
    int logicalWidth = 0;
    int logicalHeight = 0;
};

struct NativeWindow;

// One wl_shm buffer with its own pool and mapping.
struct Buffer {
    NativeWindow* owner = nullptr;
    wl_buffer* buffer = nullptr;
    void* data = nullptr;
    std::size_t size = 0;
    int width = 0;
    int height = 0;
    bool busy = false;  // the compositor holds it until release
    // What changed since this buffer was last filled.
    bool stale = true;
    RECT staleArea = {0, 0, 0, 0};
};

struct NativeWindow {
    WaylandBackend* owner = nullptr;
    WindowId id = 0;
    std::string title;
    std::string appId;
    RECT rect = {0, 0, 0, 0};  // the client area; Wayland has no positions
    WindowShow show = WindowShow::kHidden;
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    zxdg_toplevel_decoration_v1* decoration = nullptr;
#if OSTREVANE_HAVE_LIBDECOR
    // With libdecor, the frame holds the xdg_surface and xdg_toplevel.
    libdecor_frame* decorFrame = nullptr;
    // The compositor draws no decorations for this toplevel after all.
    bool clientSideDecorations = false;
#endif
    bool configured = false;  // the role's first configure was acknowledged
    int configureWidth = 0;   // from the latest xdg_toplevel.configure
    int configureHeight = 0;
    bool maximizedState = false;
    wl_callback* frame = nullptr;  // a commit waits for this one's frame
    const Surface* source = nullptr;
    bool hasDamage = false;
    RECT damage = {0, 0, 0, 0};
    Buffer buffers[2];
};

bool HasRole(const NativeWindow& window) {
#if OSTREVANE_HAVE_LIBDECOR
    if (window.decorFrame != nullptr) {
        return true;
    }
#endif
    return window.toplevel != nullptr;
}

RECT Union(const RECT& a, const RECT& b) {
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

void ReleaseBuffer(Buffer* buffer) {
    if (buffer->buffer != nullptr) {
        wl_buffer_destroy(buffer->buffer);
    }
    if (buffer->data != nullptr) {
        munmap(buffer->data, buffer->size);
    }
    NativeWindow* owner = buffer->owner;
    *buffer = Buffer();
    buffer->owner = owner;
}

class WaylandBackend : public Backend {
public:
    WaylandBackend(wl_display* display, const std::string& program, const std::string& name)
        : display_(display), program_(program), name_(name) {}

    ~WaylandBackend() override {
        while (!windows_.empty()) {
            DestroyNativeWindow(windows_.begin()->first);
        }
#if OSTREVANE_HAVE_LIBDECOR
        // A libdecor whose start the compositor cut short is left alone:
        // libdecor 0.1's plugin would destroy objects it never received.
        if (decor_ != nullptr && decorReady_) {
            libdecor_unref(decor_);
        }
        if (decorOwner == this) {
            decorOwner = nullptr;
        }
#endif
        for (Output& output : outputs_) {
            DestroyOutput(&output);
        }
        if (keyboard_ != nullptr) {
            wl_keyboard_destroy(keyboard_);
        }
        if (xkbState_ != nullptr) {
            xkb_state_unref(xkbState_);
        }
        if (xkbKeymap_ != nullptr) {
            xkb_keymap_unref(xkbKeymap_);
        }
        if (xkbContext_ != nullptr) {
            xkb_context_unref(xkbContext_);
        }
        if (seat_ != nullptr) {
            wl_seat_destroy(seat_);
        }
        if (decorationManager_ != nullptr) {
            zxdg_decoration_manager_v1_destroy(decorationManager_);
        }
        if (outputManager_ != nullptr) {
            zxdg_output_manager_v1_destroy(outputManager_);
        }
        if (wmBase_ != nullptr) {
            xdg_wm_base_destroy(wmBase_);
        }
        if (shm_ != nullptr) {
            wl_shm_destroy(shm_);
        }
        if (compositor_ != nullptr) {
            wl_compositor_destroy(compositor_);
        }
        if (registry_ != nullptr) {
            wl_registry_destroy(registry_);
        }
        if (!lost_) {
            wl_display_flush(display_);
        }
        wl_display_disconnect(display_);
    }

    // Binds the globals and learns the outputs; false, with `error`, if the
    // compositor cannot show our windows.
    bool Start(std::string* error) {
        registry_ = wl_display_get_registry(display_);
        wl_registry_add_listener(registry_, &kRegistryListener, this);
        if (wl_display_roundtrip(display_) < 0) {
            *error = DescribeFailure();
            return false;
        }
        if (compositor_ == nullptr || shm_ == nullptr || wmBase_ == nullptr) {
            *error = "Wayland compositor \"" + name_ + "\" offers no " +
                     (compositor_ == nullptr ? "wl_compositor"
                      : shm_ == nullptr      ? "wl_shm"
                                             : "xdg_wm_base");
            return false;
        }
        // Outputs announced before the xdg-output manager.
        for (Output& output : outputs_) {
            AddXdgOutput(&output);
        }
        // Output modes, scales and logical sizes, and the seat.
        if (wl_display_roundtrip(display_) < 0) {
            *error = DescribeFailure();
            return false;
        }
#if OSTREVANE_HAVE_LIBDECOR
        // No server-side decorations: libdecor draws them.
        if (decorationManager_ == nullptr && !StartLibdecor()) {
            *error = DescribeFailure();
            return false;
        }
#endif
        return true;
    }

#if OSTREVANE_HAVE_LIBDECOR
    // Makes the libdecor context, unless there is one or the compositor
    // cannot show its frames (they are subsurfaces). It binds globals of
    // its own, which one more round trip brings in. False only when the
    // connection failed meanwhile.
    bool StartLibdecor() {
        if (decor_ != nullptr || !subcompositorOffered_) {
            return true;
        }
        decorOwner = this;
        decor_ = libdecor_new(display_, &kDecorInterface);
        if (decor_ == nullptr) {
            return true;
        }
        if (wl_display_roundtrip(display_) < 0) {
            return false;
        }
        decorReady_ = true;
        return true;
    }

    // Windows whose compositor answered the request for server-side
    // decorations with client-side ones get libdecor's frame instead: a
    // new role, as libdecor makes its own toplevel.
    void Redecorate() {
        if (!redecorate_ || lost_) {
            return;
        }
        redecorate_ = false;
        if (!StartLibdecor()) {
            MarkLost();
            return;
        }
        if (decor_ == nullptr) {
            return;
        }
        for (auto& entry : windows_) {
            NativeWindow& window = entry.second;
            if (window.clientSideDecorations && window.decorFrame == nullptr &&
                window.toplevel != nullptr) {
                window.clientSideDecorations = false;
                DropRole(&window);
                MakeRole(&window, window.show == WindowShow::kMaximized);
                // The new toplevel shows everything once configured.
                if (window.source != nullptr) {
                    window.damage = RECT{0, 0, window.source->width, window.source->height};
                    window.hasDamage = true;
                }
            }
        }
    }
#endif

    void GetScreenSize(int* width, int* height) override {
        const Output* output = ScreenOutput();
        int w = 0;
        int h = 0;
        if (output != nullptr) {
            LogicalOutputSize(output->logicalWidth, output->logicalHeight, output->modeWidth,
                              output->modeHeight, output->transform, output->scale, &w, &h);
        }
        if (w <= 0 || h <= 0) {
            w = kFallbackScreenWidth;
            h = kFallbackScreenHeight;
        }
        *width = w;
        *height = h;
    }

    bool CreateNativeWindow(WindowId id, const char* className, const char* title,
                            const RECT& rect) override {
        if (lost_ || windows_.count(id) != 0) {
            return false;
        }
        wl_surface* surface = wl_compositor_create_surface(compositor_);
        if (surface == nullptr) {
            return false;
        }
        NativeWindow& window = windows_[id];
        window.owner = this;
        window.id = id;
        window.title = title;
        window.appId = className;
        window.surface = surface;
        long width = std::clamp(static_cast<long>(rect.right) - rect.left, 1L,
                                static_cast<long>(kMaxClientSide));
        long height = std::clamp(static_cast<long>(rect.bottom) - rect.top, 1L,
                                 static_cast<long>(kMaxClientSide));
        window.rect = RECT{rect.left, rect.top, static_cast<LONG>(rect.left + width),
                           static_cast<LONG>(rect.top + height)};
        for (Buffer& buffer : window.buffers) {
            buffer.owner = &window;
        }
        wl_surface_add_listener(surface, &kSurfaceListener, &window);
        return true;
    }

    void DestroyNativeWindow(WindowId id) override {
        auto found = windows_.find(id);
        if (found == windows_.end()) {
            return;
        }
        NativeWindow& window = found->second;
        DropRole(&window);
        for (Buffer& buffer : window.buffers) {
            ReleaseBuffer(&buffer);
        }
        wl_surface_destroy(window.surface);
        if (focus_ == id) {
            focus_ = 0;
        }
        windows_.erase(found);
    }

    void ShowNativeWindow(WindowId id, WindowShow show) override {
        auto found = windows_.find(id);
        if (found == windows_.end() || lost_) {
            return;
        }
        NativeWindow& window = found->second;
        WindowShow before = window.show;
        window.show = show;
        if (show == WindowShow::kHidden) {
            DropRole(&window);
            return;
        }
        if (!HasRole(window)) {
            MakeRole(&window, show == WindowShow::kMaximized);
        } else if (show == WindowShow::kMaximized && before != WindowShow::kMaximized) {
            SetMaximized(&window, true);
        } else if (show == WindowShow::kNormal && before == WindowShow::kMaximized) {
            SetMaximized(&window, false);
        }
        if (show == WindowShow::kMinimized) {
#if OSTREVANE_HAVE_LIBDECOR
            if (window.decorFrame != nullptr) {
                libdecor_frame_set_minimized(window.decorFrame);
                return;
            }
#endif
            xdg_toplevel_set_minimized(window.toplevel);
        }
    }

    void Present(WindowId id, const Surface& surface, const RECT& area) override {
        auto found = windows_.find(id);
        if (found == windows_.end() || lost_ || surface.pixels == nullptr) {
            return;
        }
        RECT clipped = ClipToSurface(surface, area);
        if (clipped.right <= clipped.left || clipped.bottom <= clipped.top) {
            return;
        }
        NativeWindow& window = found->second;
        window.source = &surface;
        window.damage = window.hasDamage ? Union(window.damage, clipped) : clipped;
        window.hasDamage = true;
    }

    WaitResult NextEvent(BackendEvent* event, bool wait) override {
        for (;;) {
            if (!events_.empty()) {
                *event = events_.front();
                events_.pop_front();
                return WaitResult::kEvent;
            }
            if (lost_) {
                return WaitResult::kBroken;
            }
#if OSTREVANE_HAVE_LIBDECOR
            Redecorate();
#endif
            CommitReadyWindows();
            if (!Dispatch(false)) {
                return WaitResult::kBroken;
            }
            if (!events_.empty()) {
                continue;
            }
            if (!wait) {
                return WaitResult::kNoEvent;
            }
            // Commits that waited for a frame or a buffer go out as soon as
            // the compositor allows them.
#if OSTREVANE_HAVE_LIBDECOR
            Redecorate();
#endif
            CommitReadyWindows();
            if (!Dispatch(true)) {
                return WaitResult::kBroken;
            }
        }
    }

private:
    // --- The connection --------------------------------------------------

    std::string DescribeFailure() {
        int code = wl_display_get_error(display_);
        if (code == EPROTO) {
            const wl_interface* interface = nullptr;
            std::uint32_t object = 0;
            std::uint32_t error = wl_display_get_protocol_error(display_, &interface, &object);
            char text[160];
            std::snprintf(text, sizeof(text), "protocol error %u on %s@%u",
                          static_cast<unsigned>(error),
                          interface != nullptr ? interface->name : "an unknown object",
                          static_cast<unsigned>(object));
            // libwayland logs "object@id: error N: message"; the message is
            // the compositor's own words.
            std::string said = lastWaylandMessage;
            std::size_t at = said.find(": error ");
            at = at == std::string::npos ? at : said.find(": ", at + 8);
            if (at != std::string::npos) {
                said = said.substr(at + 2);
            }
            return "Wayland compositor \"" + name_ + "\" reported a " + text +
                   (said.empty() ? "" : ": " + said);
        }
        return "lost the connection to Wayland compositor \"" + name_ + "\"" +
               (code != 0 ? std::string(" (") + std::strerror(code) + ")" : std::string());
    }

    void MarkLost() {
        if (!lost_) {
            lost_ = true;
            std::fprintf(stderr, "%s: %s\n", program_.c_str(), DescribeFailure().c_str());
        }
    }

    // Sends what is buffered; false when the connection is gone.
    bool FlushOutput() {
        while (wl_display_flush(display_) < 0) {
            if (errno != EAGAIN) {
                MarkLost();
                return false;
            }
            // The socket is full: wait until the compositor reads.
            pollfd connection = {wl_display_get_fd(display_), POLLOUT, 0};
            if (poll(&connection, 1, -1) < 0 && errno != EINTR) {
                MarkLost();
                return false;
            }
            if ((connection.revents & (POLLERR | POLLHUP)) != 0) {
                MarkLost();
                return false;
            }
        }
        return true;
    }

    // Reads and handles what the compositor sent; with `wait`, blocks until
    // something arrives. False when the connection is gone or broken.
    bool Dispatch(bool wait) {
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) {
                MarkLost();
                return false;
            }
        }
        if (!FlushOutput()) {
            wl_display_cancel_read(display_);
            return false;
        }
        pollfd connection = {wl_display_get_fd(display_), POLLIN, 0};
        int ready = poll(&connection, 1, wait ? -1 : 0);
        if (ready < 0 && errno != EINTR) {
            wl_display_cancel_read(display_);
            MarkLost();
            return false;
        }
        if (ready > 0) {
            if (wl_display_read_events(display_) < 0) {
                MarkLost();
                return false;
            }
        } else {
            wl_display_cancel_read(display_);
        }
        if (wl_display_dispatch_pending(display_) < 0) {
            MarkLost();
            return false;
        }
        return true;
    }

    // --- Windows -----------------------------------------------------------

    void SetMaximized(NativeWindow* window, bool maximized) {
#if OSTREVANE_HAVE_LIBDECOR
        if (window->decorFrame != nullptr) {
            if (maximized) {
                libdecor_frame_set_maximized(window->decorFrame);
            } else {
                libdecor_frame_unset_maximized(window->decorFrame);
            }
            return;
        }
#endif
        if (maximized) {
            xdg_toplevel_set_maximized(window->toplevel);
        } else {
            xdg_toplevel_unset_maximized(window->toplevel);
        }
    }

    void MakeRole(NativeWindow* window, bool maximized) {
        window->configured = false;
        window->configureWidth = 0;
        window->configureHeight = 0;
#if OSTREVANE_HAVE_LIBDECOR
        if (decor_ != nullptr) {
            window->decorFrame =
                libdecor_decorate(decor_, window->surface, &kDecorFrameInterface, window);
            if (window->decorFrame != nullptr) {
                libdecor_frame_set_title(window->decorFrame, window->title.c_str());
                libdecor_frame_set_app_id(window->decorFrame, program_.c_str());
                libdecor_frame_set_max_content_size(window->decorFrame, kMaxClientSide,
                                                    kMaxClientSide);
                if (maximized) {
                    libdecor_frame_set_maximized(window->decorFrame);
                }
                // Commits the surface without a buffer, as below.
                libdecor_frame_map(window->decorFrame);
                return;
            }
        }
#endif
        window->xdgSurface = xdg_wm_base_get_xdg_surface(wmBase_, window->surface);
        xdg_surface_add_listener(window->xdgSurface, &kXdgSurfaceListener, window);
        window->toplevel = xdg_surface_get_toplevel(window->xdgSurface);
        xdg_toplevel_add_listener(window->toplevel, &kToplevelListener, window);
        xdg_toplevel_set_title(window->toplevel, window->title.c_str());
        xdg_toplevel_set_app_id(window->toplevel, program_.c_str());
        xdg_toplevel_set_max_size(window->toplevel, kMaxClientSide, kMaxClientSide);
        if (maximized) {
            xdg_toplevel_set_maximized(window->toplevel);
        }
        if (decorationManager_ != nullptr) {
            window->decoration = zxdg_decoration_manager_v1_get_toplevel_decoration(
                decorationManager_, window->toplevel);
            zxdg_toplevel_decoration_v1_add_listener(window->decoration, &kDecorationListener,
                                                     window);
            zxdg_toplevel_decoration_v1_set_mode(window->decoration,
                                                 ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
        }
        // The first commit carries no buffer: the compositor answers with
        // the first configure, after which the window may show pixels.
        wl_surface_commit(window->surface);
    }

    void DropRole(NativeWindow* window) {
        if (window->frame != nullptr) {
            wl_callback_destroy(window->frame);
            window->frame = nullptr;
        }
        // Unmapped first: a surface given a role again must hold no buffer.
        if (HasRole(*window) && window->configured && !lost_) {
            wl_surface_attach(window->surface, nullptr, 0, 0);
            wl_surface_commit(window->surface);
        }
#if OSTREVANE_HAVE_LIBDECOR
        if (window->decorFrame != nullptr) {
            libdecor_frame_unref(window->decorFrame);
            window->decorFrame = nullptr;
        }
#endif
        if (window->decoration != nullptr) {
            zxdg_toplevel_decoration_v1_destroy(window->decoration);
            window->decoration = nullptr;
        }
        if (window->toplevel != nullptr) {
            xdg_toplevel_destroy(window->toplevel);
            window->toplevel = nullptr;
        }
        if (window->xdgSurface != nullptr) {
            xdg_surface_destroy(window->xdgSurface);
            window->xdgSurface = nullptr;
        }
        window->configured = false;
        window->hasDamage = false;
        // Shown again, the window starts from a fresh buffer.
        for (Buffer& buffer : window->buffers) {
            buffer.stale = true;
        }
    }

    bool MakeBuffer(Buffer* buffer, int width, int height) {
        std::size_t stride = static_cast<std::size_t>(width) * 4;
        std::size_t size = stride * static_cast<std::size_t>(height);
        if (size > static_cast<std::size_t>(INT32_MAX)) {
            return false;  // wl_shm pools are sized in 32 bits
        }
        int fd = memfd_create("ostrevane-buffer", MFD_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
            close(fd);
            return false;
        }
        void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (data == MAP_FAILED) {
            close(fd);
            return false;
        }
        wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, static_cast<std::int32_t>(size));
        close(fd);
        buffer->buffer = wl_shm_pool_create_buffer(
            pool, 0, width, height, static_cast<std::int32_t>(stride), WL_SHM_FORMAT_XRGB8888);
        wl_shm_pool_destroy(pool);
        buffer->data = data;
        buffer->size = size;
        buffer->width = width;
        buffer->height = height;
        buffer->busy = false;
        buffer->stale = true;
        wl_buffer_add_listener(buffer->buffer, &kBufferListener, buffer);
        return true;
    }

    void CommitReadyWindows() {
        if (lost_) {
            return;
        }
        for (auto& entry : windows_) {
            NativeWindow& window = entry.second;
            if (HasRole(window) && window.configured && window.hasDamage &&
                window.frame == nullptr && window.source != nullptr) {
                Commit(&window);
            }
        }
    }

    // Shows the window's damage from a free buffer, if there is one.
    void Commit(NativeWindow* window) {
        const Surface& source = *window->source;
        int width = source.width;
        int height = source.height;
        if (source.pixels == nullptr || width <= 0 || height <= 0) {
            return;
        }
        Buffer* chosen = nullptr;
        for (Buffer& buffer : window->buffers) {
            if (buffer.buffer != nullptr && (buffer.width != width || buffer.height != height)) {
                // The compositor may still read a released-size buffer: it
                // keeps its own reference to the memory.
                ReleaseBuffer(&buffer);
            }
        }
        for (Buffer& buffer : window->buffers) {
            if (buffer.buffer != nullptr && !buffer.busy) {
                chosen = &buffer;
                break;
            }
        }
        if (chosen == nullptr) {
            for (Buffer& buffer : window->buffers) {
                if (buffer.buffer == nullptr) {
                    if (!MakeBuffer(&buffer, width, height)) {
                        return;
                    }
                    chosen = &buffer;
                    break;
                }
            }
        }
        if (chosen == nullptr) {
            return;  // both are held: the next release brings this back
        }
        RECT damage = {window->damage.left, window->damage.top,
                       std::min(window->damage.right, static_cast<LONG>(width)),
                       std::min(window->damage.bottom, static_cast<LONG>(height))};
        window->hasDamage = false;
        if (damage.right <= damage.left || damage.bottom <= damage.top) {
            return;
        }
        for (Buffer& buffer : window->buffers) {
            if (buffer.buffer != nullptr && !buffer.stale) {
                buffer.staleArea = buffer.staleArea.right > buffer.staleArea.left
                                       ? Union(buffer.staleArea, damage)
                                       : damage;
            }
        }
        RECT copy = chosen->stale ? RECT{0, 0, width, height} : chosen->staleArea;
        auto* target = static_cast<std::uint32_t*>(chosen->data);
        // The unused top byte is set: XRGB8888 ignores it, but compositors
        // that copy the output into an image with alpha (screenshots) keep
        // it, and 0 there would make the window transparent.
        for (LONG y = copy.top; y < copy.bottom; ++y) {
            std::size_t offset = static_cast<std::size_t>(y) * width + copy.left;
            const std::uint32_t* from = SurfaceRow(source, static_cast<int>(y)) + copy.left;
            std::uint32_t* to = target + offset;
            for (LONG x = copy.left; x < copy.right; ++x) {
                *to++ = *from++ | 0xFF000000u;
            }
        }
        chosen->stale = false;
        chosen->staleArea = RECT{0, 0, 0, 0};
        chosen->busy = true;

        wl_surface_attach(window->surface, chosen->buffer, 0, 0);
        if (compositorVersion_ >= 4) {
            wl_surface_damage_buffer(window->surface, damage.left, damage.top,
                                     damage.right - damage.left, damage.bottom - damage.top);
        } else {
            wl_surface_damage(window->surface, damage.left, damage.top, damage.right - damage.left,
                              damage.bottom - damage.top);
        }
        window->frame = wl_surface_frame(window->surface);
        wl_callback_add_listener(window->frame, &kFrameListener, window);
        wl_surface_commit(window->surface);
    }

    void Queue(const BackendEvent& event) { events_.push_back(event); }

    NativeWindow* FindBySurface(wl_surface* surface) {
        if (surface == nullptr) {
            return nullptr;
        }
        for (auto& entry : windows_) {
            if (entry.second.surface == surface) {
                return &entry.second;
            }
        }
        return nullptr;
    }

    // --- Outputs -------------------------------------------------------------

    const Output* ScreenOutput() const {
        for (const Output& output : outputs_) {
            if (startOutputKnown_ && output.name == startOutput_) {
                return &output;
            }
        }
        return outputs_.empty() ? nullptr : &outputs_.front();
    }

    void AddXdgOutput(Output* output) {
        if (outputManager_ == nullptr || output->xdgOutput != nullptr) {
            return;
        }
        output->xdgOutput = zxdg_output_manager_v1_get_xdg_output(outputManager_, output->output);
        zxdg_output_v1_add_listener(output->xdgOutput, &kXdgOutputListener, output);
    }

    void DestroyOutput(Output* output) {
        if (output->xdgOutput != nullptr) {
            zxdg_output_v1_destroy(output->xdgOutput);
        }
        if (output->output != nullptr) {
            wl_output_destroy(output->output);
        }
        output->xdgOutput = nullptr;
        output->output = nullptr;
    }

    // --- Listeners -------------------------------------------------------------

    static void OnGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version) {
        auto* self = static_cast<WaylandBackend*>(data);
        std::string kind = interface;
        if (kind == wl_compositor_interface.name && self->compositor_ == nullptr) {
            self->compositorVersion_ = std::min(version, 4u);
            self->compositor_ = static_cast<wl_compositor*>(wl_registry_bind(
                registry, name, &wl_compositor_interface, self->compositorVersion_));
        } else if (kind == wl_shm_interface.name && self->shm_ == nullptr) {
            self->shm_ =
                static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
        } else if (kind == xdg_wm_base_interface.name && self->wmBase_ == nullptr) {
            self->wmBase_ = static_cast<xdg_wm_base*>(
                wl_registry_bind(registry, name, &xdg_wm_base_interface, std::min(version, 5u)));
            xdg_wm_base_add_listener(self->wmBase_, &kWmBaseListener, self);
        } else if (kind == zxdg_decoration_manager_v1_interface.name &&
                   self->decorationManager_ == nullptr) {
            self->decorationManager_ = static_cast<zxdg_decoration_manager_v1*>(
                wl_registry_bind(registry, name, &zxdg_decoration_manager_v1_interface, 1));
        } else if (kind == zxdg_output_manager_v1_interface.name &&
                   self->outputManager_ == nullptr) {
            self->outputManager_ = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
                registry, name, &zxdg_output_manager_v1_interface, std::min(version, 3u)));
        } else if (kind == wl_seat_interface.name && self->seat_ == nullptr) {
            self->seat_ = static_cast<wl_seat*>(
                wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 5u)));
            wl_seat_add_listener(self->seat_, &kSeatListener, self);
        } else if (kind == "wl_subcompositor") {
            self->subcompositorOffered_ = true;
        } else if (kind == wl_output_interface.name) {
            self->outputs_.emplace_back();
            Output& output = self->outputs_.back();
            output.owner = self;
            output.name = name;
            output.output = static_cast<wl_output*>(
                wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 3u)));
            wl_output_add_listener(output.output, &kOutputListener, &output);
            self->AddXdgOutput(&output);
        }
    }

    static void OnGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
        auto* self = static_cast<WaylandBackend*>(data);
        for (auto it = self->outputs_.begin(); it != self->outputs_.end(); ++it) {
            if (it->name == name) {
                self->DestroyOutput(&*it);
                self->outputs_.erase(it);
                return;
            }
        }
    }

    static void OnPing(void*, xdg_wm_base* base, std::uint32_t serial) {
        xdg_wm_base_pong(base, serial);
    }

    static void OnSurfaceEnter(void* data, wl_surface*, wl_output* entered) {
        auto* window = static_cast<NativeWindow*>(data);
        WaylandBackend* self = window->owner;
        if (self->startOutputKnown_ || entered == nullptr) {
            return;
        }
        for (const Output& output : self->outputs_) {
            if (output.output == entered) {
                self->startOutput_ = output.name;
                self->startOutputKnown_ = true;
            }
        }
    }

    static void OnSurfaceLeave(void*, wl_surface*, wl_output*) {}

    static void OnXdgSurfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
        auto* window = static_cast<NativeWindow*>(data);
        xdg_surface_ack_configure(surface, serial);
        int width = ConfiguredSide(window->configureWidth, window->rect.right - window->rect.left);
        int height =
            ConfiguredSide(window->configureHeight, window->rect.bottom - window->rect.top);
        Configured(window, width, height);
    }

    // The compositor's size for the client area, acknowledged: the window
    // manager hears of a change as of a resize, and a window that has not
    // shown anything yet is asked to paint.
    static void Configured(NativeWindow* window, int width, int height) {
        bool first = !window->configured;
        window->configured = true;
        if (width != window->rect.right - window->rect.left ||
            height != window->rect.bottom - window->rect.top) {
            window->rect.right = window->rect.left + width;
            window->rect.bottom = window->rect.top + height;
            BackendEvent event;
            event.type = BackendEvent::kConfigure;
            event.window = window->id;
            event.rect = window->rect;
            window->owner->Queue(event);
        } else if (first && window->source == nullptr) {
            // Nothing was presented yet: ask for the whole client area.
            BackendEvent event;
            event.type = BackendEvent::kExpose;
            event.window = window->id;
            event.rect = RECT{0, 0, width, height};
            window->owner->Queue(event);
        }
    }

    static void OnToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width,
                                    std::int32_t height, wl_array* states) {
        auto* window = static_cast<NativeWindow*>(data);
        window->configureWidth = width;
        window->configureHeight = height;
        window->maximizedState = false;
        if (states != nullptr) {
            const auto* state = static_cast<const std::uint32_t*>(states->data);
            std::size_t count = states->size / sizeof(std::uint32_t);
            for (std::size_t i = 0; i < count; ++i) {
                if (state[i] == XDG_TOPLEVEL_STATE_MAXIMIZED) {
                    window->maximizedState = true;
                }
            }
        }
    }

    static void OnToplevelClose(void* data, xdg_toplevel*) {
        auto* window = static_cast<NativeWindow*>(data);
        BackendEvent event;
        event.type = BackendEvent::kClose;
        event.window = window->id;
        window->owner->Queue(event);
    }

    static void OnToplevelBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
    static void OnToplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}

    static void OnDecorationConfigure(void* data, zxdg_toplevel_decoration_v1*,
                                      std::uint32_t mode) {
#if OSTREVANE_HAVE_LIBDECOR
        if (mode == ZXDG_TOPLEVEL_DECORATION_V1_MODE_CLIENT_SIDE) {
            auto* window = static_cast<NativeWindow*>(data);
            window->clientSideDecorations = true;
            window->owner->redecorate_ = true;
        }
#else
        (void)data;
        (void)mode;
#endif
    }

    static void OnBufferRelease(void* data, wl_buffer*) {
        static_cast<Buffer*>(data)->busy = false;
    }

    static void OnFrameDone(void* data, wl_callback* callback, std::uint32_t) {
        auto* window = static_cast<NativeWindow*>(data);
        wl_callback_destroy(callback);
        if (window->frame == callback) {
            window->frame = nullptr;
        }
    }

    static void OnOutputGeometry(void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t,
                                 std::int32_t, std::int32_t, const char*, const char*,
                                 std::int32_t transform) {
        static_cast<Output*>(data)->transform = transform;
    }

    static void OnOutputMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width,
                             std::int32_t height, std::int32_t) {
        if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
            auto* output = static_cast<Output*>(data);
            output->modeWidth = width;
            output->modeHeight = height;
        }
    }

    static void OnOutputDone(void*, wl_output*) {}

    static void OnOutputScale(void* data, wl_output*, std::int32_t scale) {
        static_cast<Output*>(data)->scale = scale;
    }

    static void OnOutputName(void*, wl_output*, const char*) {}
    static void OnOutputDescription(void*, wl_output*, const char*) {}

    static void OnXdgOutputPosition(void*, zxdg_output_v1*, std::int32_t, std::int32_t) {}

    static void OnXdgOutputSize(void* data, zxdg_output_v1*, std::int32_t width,
                                std::int32_t height) {
        auto* output = static_cast<Output*>(data);
        output->logicalWidth = width;
        output->logicalHeight = height;
    }

    static void OnXdgOutputDone(void*, zxdg_output_v1*) {}
    static void OnXdgOutputName(void*, zxdg_output_v1*, const char*) {}
    static void OnXdgOutputDescription(void*, zxdg_output_v1*, const char*) {}

    static void OnSeatCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
        auto* self = static_cast<WaylandBackend*>(data);
        bool keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
        if (keyboard && self->keyboard_ == nullptr) {
            self->keyboard_ = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(self->keyboard_, &kKeyboardListener, self);
        } else if (!keyboard && self->keyboard_ != nullptr) {
            wl_keyboard_destroy(self->keyboard_);
            self->keyboard_ = nullptr;
            self->focus_ = 0;
        }
    }

    static void OnSeatName(void*, wl_seat*, const char*) {}

    static void OnKeymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                         std::uint32_t size) {
        auto* self = static_cast<WaylandBackend*>(data);
        // The map must be what the compositor says: reading a mapping
        // past the end of its file would raise SIGBUS.
        struct stat file;
        if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || size == 0 || size > kMaxKeymapBytes ||
            fstat(fd, &file) != 0 || file.st_size < static_cast<off_t>(size)) {
            close(fd);
            return;
        }
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (text == MAP_FAILED) {
            return;
        }
        if (self->xkbContext_ == nullptr) {
            self->xkbContext_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
            // A keymap that cannot be read leaves typing without characters;
            // xkbcommon's diagnostics of it are no business of stderr.
            if (self->xkbContext_ != nullptr) {
                xkb_context_set_log_fn(self->xkbContext_,
                                       [](xkb_context*, xkb_log_level, const char*, va_list) {});
            }
        }
        xkb_keymap* keymap = nullptr;
        if (self->xkbContext_ != nullptr) {
            // The map is NUL-terminated within `size`; a hostile one may not be.
            keymap =
                xkb_keymap_new_from_buffer(self->xkbContext_, static_cast<const char*>(text),
                                           strnlen(static_cast<const char*>(text), size),
                                           XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        }
        munmap(text, size);
        if (keymap == nullptr) {
            return;
        }
        xkb_state* state = xkb_state_new(keymap);
        if (state == nullptr) {
            xkb_keymap_unref(keymap);
            return;
        }
        if (self->xkbState_ != nullptr) {
            xkb_state_unref(self->xkbState_);
        }
        if (self->xkbKeymap_ != nullptr) {
            xkb_keymap_unref(self->xkbKeymap_);
        }
        self->xkbKeymap_ = keymap;
        self->xkbState_ = state;
    }

    static void OnKeyboardEnter(void* data, wl_keyboard*, std::uint32_t, wl_surface* surface,
                                wl_array*) {
        auto* self = static_cast<WaylandBackend*>(data);
        NativeWindow* window = self->FindBySurface(surface);
        self->focus_ = window != nullptr ? window->id : 0;
    }

    static void OnKeyboardLeave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
        static_cast<WaylandBackend*>(data)->focus_ = 0;
    }

    static void OnKey(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
                      std::uint32_t state) {
        auto* self = static_cast<WaylandBackend*>(data);
        if (state != WL_KEYBOARD_KEY_STATE_PRESSED || self->focus_ == 0 ||
            self->xkbState_ == nullptr || key > 0xFFFF) {
            return;
        }
        BackendEvent event;
        event.type = BackendEvent::kChars;
        event.window = self->focus_;
        // Evdev key codes are XKB's less 8.
        const std::uint32_t codePoint = xkb_state_key_get_utf32(self->xkbState_, key + 8);
        if (codePoint == 0) {
            return;
        }
        event.chars[0] = codePoint;
        event.charCount = 1;
        self->Queue(event);
    }

    static void OnModifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                            std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
        auto* self = static_cast<WaylandBackend*>(data);
        if (self->xkbState_ != nullptr) {
            xkb_state_update_mask(self->xkbState_, depressed, latched, locked, 0, 0, group);
        }
    }

    static void OnRepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

#if OSTREVANE_HAVE_LIBDECOR
    static void OnDecorError(libdecor*, libdecor_error, const char* message) {
        WaylandBackend* self = decorOwner;
        if (self != nullptr && !self->lost_) {
            self->lost_ = true;
            std::fprintf(stderr, "%s: cannot decorate windows on Wayland compositor \"%s\": %s\n",
                         self->program_.c_str(), self->name_.c_str(),
                         message != nullptr ? message : "libdecor failed");
        }
    }

    static void OnDecorConfigure(libdecor_frame* frame, libdecor_configuration* configuration,
                                 void* data) {
        auto* window = static_cast<NativeWindow*>(data);
        int configuredWidth = 0;
        int configuredHeight = 0;
        if (!libdecor_configuration_get_content_size(configuration, frame, &configuredWidth,
                                                     &configuredHeight)) {
            configuredWidth = 0;  // the client chooses
            configuredHeight = 0;
        }
        int width = ConfiguredSide(configuredWidth, window->rect.right - window->rect.left);
        int height = ConfiguredSide(configuredHeight, window->rect.bottom - window->rect.top);
        libdecor_state* state = libdecor_state_new(width, height);
        libdecor_frame_commit(frame, state, configuration);
        libdecor_state_free(state);
        bool sameSize = window->configured && width == window->rect.right - window->rect.left &&
                        height == window->rect.bottom - window->rect.top;
        Configured(window, width, height);
        if (sameSize) {
            // Redrawn decorations (focus, say) show with the next commit.
            wl_surface_commit(window->surface);
        }
    }

    static void OnDecorClose(libdecor_frame*, void* data) { OnToplevelClose(data, nullptr); }

    static void OnDecorCommit(libdecor_frame*, void* data) {
        wl_surface_commit(static_cast<NativeWindow*>(data)->surface);
    }

    static void OnDecorDismissPopup(libdecor_frame*, const char*, void*) {}

    // libdecor's error callback carries no pointer of ours; there is only
    // ever one display open.
    static WaylandBackend* decorOwner;
    static libdecor_interface kDecorInterface;
    static libdecor_frame_interface kDecorFrameInterface;
    libdecor* decor_ = nullptr;
    bool decorReady_ = false;
    bool redecorate_ = false;  // a window was refused server-side decorations
#endif

    static const wl_registry_listener kRegistryListener;
    static const xdg_wm_base_listener kWmBaseListener;
    static const wl_surface_listener kSurfaceListener;
    static const xdg_surface_listener kXdgSurfaceListener;
    static const xdg_toplevel_listener kToplevelListener;
    static const zxdg_toplevel_decoration_v1_listener kDecorationListener;
    static const wl_buffer_listener kBufferListener;
    static const wl_callback_listener kFrameListener;
    static const wl_output_listener kOutputListener;
    static const zxdg_output_v1_listener kXdgOutputListener;
    static const wl_seat_listener kSeatListener;
    static const wl_keyboard_listener kKeyboardListener;

    wl_display* display_;
    std::string program_;
    std::string name_;
    bool lost_ = false;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    std::uint32_t compositorVersion_ = 1;
    wl_shm* shm_ = nullptr;
    xdg_wm_base* wmBase_ = nullptr;
    zxdg_decoration_manager_v1* decorationManager_ = nullptr;
    zxdg_output_manager_v1* outputManager_ = nullptr;
    bool subcompositorOffered_ = false;
    wl_seat* seat_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    xkb_context* xkbContext_ = nullptr;
    xkb_keymap* xkbKeymap_ = nullptr;
    xkb_state* xkbState_ = nullptr;
    WindowId focus_ = 0;
    // A list, so that the listeners' pointers to outputs stay valid.
    std::list<Output> outputs_;
    bool startOutputKnown_ = false;
    std::uint32_t startOutput_ = 0;
    // Ordered, so that windows' addresses (listener data) never move.
    std::map<WindowId, NativeWindow> windows_;
    std::deque<BackendEvent> events_;
};

#if OSTREVANE_HAVE_LIBDECOR
WaylandBackend* WaylandBackend::decorOwner = nullptr;
// libdecor's interfaces end in reserved members, left null.
libdecor_interface WaylandBackend::kDecorInterface = []() {
    libdecor_interface callbacks = {};
    callbacks.error = OnDecorError;
    return callbacks;
}();
libdecor_frame_interface WaylandBackend::kDecorFrameInterface = []() {
    libdecor_frame_interface callbacks = {};
    callbacks.configure = OnDecorConfigure;
    callbacks.close = OnDecorClose;
    callbacks.commit = OnDecorCommit;
    callbacks.dismiss_popup = OnDecorDismissPopup;
    return callbacks;
}();
#endif
const wl_registry_listener WaylandBackend::kRegistryListener = {OnGlobal, OnGlobalRemove};
const xdg_wm_base_listener WaylandBackend::kWmBaseListener = {OnPing};
const wl_surface_listener WaylandBackend::kSurfaceListener = {OnSurfaceEnter, OnSurfaceLeave};
const xdg_surface_listener WaylandBackend::kXdgSurfaceListener = {OnXdgSurfaceConfigure};
const xdg_toplevel_listener WaylandBackend::kToplevelListener = {
    OnToplevelConfigure, OnToplevelClose, OnToplevelBounds, OnToplevelCapabilities};
const zxdg_toplevel_decoration_v1_listener WaylandBackend::kDecorationListener = {
    OnDecorationConfigure};
const wl_buffer_listener WaylandBackend::kBufferListener = {OnBufferRelease};
const wl_callback_listener WaylandBackend::kFrameListener = {OnFrameDone};
const wl_output_listener WaylandBackend::kOutputListener = {
    OnOutputGeometry, OnOutputMode, OnOutputDone, OnOutputScale, OnOutputName, OnOutputDescription};
const zxdg_output_v1_listener WaylandBackend::kXdgOutputListener = {
    OnXdgOutputPosition, OnXdgOutputSize, OnXdgOutputDone, OnXdgOutputName, OnXdgOutputDescription};
const wl_seat_listener WaylandBackend::kSeatListener = {OnSeatCapabilities, OnSeatName};
const wl_keyboard_listener WaylandBackend::kKeyboardListener = {
    OnKeymap, OnKeyboardEnter, OnKeyboardLeave, OnKey, OnModifiers, OnRepeatInfo};

}  // namespace

int ConfiguredSide(int configured, int current) {
    if (configured == 0) {
        return std::clamp(current, 1, kMaxClientSide);
    }
    return std::clamp(configured, 1, kMaxClientSide);
}

void LogicalOutputSize(int logicalWidth, int logicalHeight, int modeWidth, int modeHeight,
                       int transform, int scale, int* width, int* height) {
    long w = 0;
    long h = 0;
    if (logicalWidth > 0 && logicalHeight > 0) {
        w = logicalWidth;
        h = logicalHeight;
    } else if (modeWidth > 0 && modeHeight > 0) {
        w = modeWidth;
        h = modeHeight;
        // The odd transforms turn the output by a quarter.
        if ((transform & 1) != 0) {
            std::swap(w, h);
        }
        long s = std::max(1, scale);
        w = (w + s - 1) / s;
        h = (h + s - 1) / s;
    }
    *width = w > 0 ? static_cast<int>(std::min(w, static_cast<long>(kMaxClientSide))) : 0;
    *height = h > 0 ? static_cast<int>(std::min(h, static_cast<long>(kMaxClientSide))) : 0;
}

std::unique_ptr<Backend> OpenCompositor(const std::string& programName, std::string* error) {
    wl_log_set_handler_client(KeepWaylandMessage);
    lastWaylandMessage.clear();
    const char* named = std::getenv("WAYLAND_DISPLAY");
    std::string name = named != nullptr && named[0] != '\0' ? named : "wayland-0";
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        *error = "cannot connect to Wayland compositor \"" + name + "\"";
        if (errno != 0) {
            *error += std::string(" (") + std::strerror(errno) + ")";
        }
        return nullptr;
    }
    // A write to a dead connection must become an error, not SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    auto backend = std::make_unique<WaylandBackend>(display, programName, name);
    if (!backend->Start(error)) {
        return nullptr;
    }
    return backend;
}

}  // namespace wayland
}  // namespace platform
