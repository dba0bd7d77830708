// Windows: each Win32 window is one xdg_toplevel whose whole surface is the
// client area. The caption and frame are the compositor's (xdg-decoration
// asked for server-side ones) or, where the compositor offers no
// xdg-decoration or refuses server-side ones, libdecor's, drawn around the
// surface. Nothing is ever drawn at more than scale 1: on a scaled output
// the compositor scales the window, as for a Win32 program that declares no
// DPI awareness.
#include <algorithm>

#include "platform/backends/wayland/wayland_backend.h"
#include "platform/backends/wayland/wayland_display.h"

namespace platform {
namespace wayland {

namespace {

void SurfaceHandleEnter(void* data, wl_surface*, wl_output* entered) {
    static_cast<NativeWindow*>(data)->display->SurfaceEntered(entered);
}

void SurfaceHandleLeave(void*, wl_surface*, wl_output*) {}

const wl_surface_listener kSurfaceListener = {SurfaceHandleEnter, SurfaceHandleLeave};

// The compositor's size for the client area, acknowledged: the window
// manager hears of a change as of a resize, and a role configured for the
// first time, which has shown nothing yet, is asked to paint all of it
// (Present waits for the first configure).
void Configured(NativeWindow* window, int width, int height) {
    bool first = !window->configured;
    window->configured = true;
    BackendEvent event;
    event.window = window->id;
    if (width != window->rect.right - window->rect.left ||
        height != window->rect.bottom - window->rect.top) {
        window->rect.right = window->rect.left + width;
        window->rect.bottom = window->rect.top + height;
        event.type = BackendEvent::kConfigure;
        event.rect = window->rect;
        window->display->Queue(event);
    }
    if (first) {
        event.type = BackendEvent::kExpose;
        event.rect = RECT{0, 0, width, height};
        window->display->Queue(event);
    }
}

void XdgSurfaceHandleConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
    auto* window = static_cast<NativeWindow*>(data);
    xdg_surface_ack_configure(surface, serial);
    int width = ConfiguredSide(window->configureWidth, window->rect.right - window->rect.left);
    int height = ConfiguredSide(window->configureHeight, window->rect.bottom - window->rect.top);
    Configured(window, width, height);
}

const xdg_surface_listener kXdgSurfaceListener = {XdgSurfaceHandleConfigure};

void ToplevelHandleConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                             wl_array*) {
    auto* window = static_cast<NativeWindow*>(data);
    window->configureWidth = width;
    window->configureHeight = height;
}

void QueueClose(NativeWindow* window) {
    BackendEvent event;
    event.type = BackendEvent::kClose;
    event.window = window->id;
    window->display->Queue(event);
}

void ToplevelHandleClose(void* data, xdg_toplevel*) {
    QueueClose(static_cast<NativeWindow*>(data));
}

void ToplevelHandleConfigureBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
void ToplevelHandleWmCapabilities(void*, xdg_toplevel*, wl_array*) {}

const xdg_toplevel_listener kToplevelListener = {ToplevelHandleConfigure, ToplevelHandleClose,
                                                 ToplevelHandleConfigureBounds,
                                                 ToplevelHandleWmCapabilities};

void XdgToplevelDecorationHandleConfigure(void* data, zxdg_toplevel_decoration_v1*,
                                          std::uint32_t mode) {
#if OSTREVANE_HAVE_LIBDECOR
    if (mode == ZXDG_TOPLEVEL_DECORATION_V1_MODE_CLIENT_SIDE) {
        auto* window = static_cast<NativeWindow*>(data);
        window->clientSideDecorations = true;
        window->display->redecorate_ = true;
    }
#else
    (void)data;
    (void)mode;
#endif
}

const zxdg_toplevel_decoration_v1_listener kXdgToplevelDecorationListener = {
    XdgToplevelDecorationHandleConfigure};

#if OSTREVANE_HAVE_LIBDECOR
void LibdecorHandleError(libdecor*, libdecor_error, const char* message) {
    WaylandBackend* self = Process().decorOwner;
    if (self != nullptr) {
        self->Fail("cannot decorate windows on " + CompositorTitle(self->name_) + ": " +
                   (message != nullptr ? message : "libdecor failed"));
    }
}

void LibdecorFrameHandleConfigure(libdecor_frame* frame, libdecor_configuration* configuration,
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
        wl_surface_commit(window->surface.get());
    }
}

void LibdecorFrameHandleClose(libdecor_frame*, void* data) {
    QueueClose(static_cast<NativeWindow*>(data));
}

void LibdecorFrameHandleCommit(libdecor_frame*, void* data) {
    wl_surface_commit(static_cast<NativeWindow*>(data)->surface.get());
}

void LibdecorFrameHandleDismissPopup(libdecor_frame*, const char*, void*) {}

// libdecor's interfaces end in reserved members, left null.
libdecor_interface kLibdecorInterface = []() {
    libdecor_interface callbacks = {};
    callbacks.error = LibdecorHandleError;
    return callbacks;
}();

libdecor_frame_interface kLibdecorFrameInterface = []() {
    libdecor_frame_interface callbacks = {};
    callbacks.configure = LibdecorFrameHandleConfigure;
    callbacks.close = LibdecorFrameHandleClose;
    callbacks.commit = LibdecorFrameHandleCommit;
    callbacks.dismiss_popup = LibdecorFrameHandleDismissPopup;
    return callbacks;
}();
#endif

}  // namespace

bool NativeWindow::HasRole() const {
#if OSTREVANE_HAVE_LIBDECOR
    if (decorFrame != nullptr) {
        return true;
    }
#endif
    return toplevel != nullptr;
}

bool WaylandBackend::CreateNativeWindow(WindowId id, const char*, const char* title,
                                        const RECT& rect) {
    if (lost_ || windows_.count(id) != 0) {
        return false;
    }
    wl_surface* surface = wl_compositor_create_surface(compositor_.get());
    if (surface == nullptr) {
        return false;
    }
    NativeWindow& window = windows_[id];
    window.display = this;
    window.id = id;
    window.title = title;
    window.surface.reset(surface);
    const long most = kMaxSurfaceSide;
    long width = std::clamp(static_cast<long>(rect.right) - rect.left, 1L, most);
    long height = std::clamp(static_cast<long>(rect.bottom) - rect.top, 1L, most);
    window.rect = RECT{rect.left, rect.top, static_cast<LONG>(rect.left + width),
                       static_cast<LONG>(rect.top + height)};
    wl_surface_add_listener(surface, &kSurfaceListener, &window);
    return true;
}

void WaylandBackend::DestroyNativeWindow(WindowId id) {
    auto found = windows_.find(id);
    if (found == windows_.end()) {
        return;
    }
    DropRole(&found->second);
    if (focus_ == id) {
        focus_ = 0;
    }
    if (repeatWindow_ == id) {
        StopKeyRepeat();
    }
    windows_.erase(found);  // its buffers, then its surface
}

void WaylandBackend::ShowNativeWindow(WindowId id, WindowShow show) {
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
    if (!window.HasRole()) {
        MakeRole(&window, show == WindowShow::kMaximized);
    } else if (show == WindowShow::kMaximized && before != WindowShow::kMaximized) {
        SetMaximized(&window, true);
    } else if (show == WindowShow::kNormal && before == WindowShow::kMaximized) {
        SetMaximized(&window, false);
    }
    if (show == WindowShow::kMinimized) {
#if OSTREVANE_HAVE_LIBDECOR
        if (window.decorFrame != nullptr) {
            libdecor_frame_set_minimized(window.decorFrame.get());
            return;
        }
#endif
        xdg_toplevel_set_minimized(window.toplevel.get());
    }
}

void WaylandBackend::SetMaximized(NativeWindow* window, bool maximized) {
#if OSTREVANE_HAVE_LIBDECOR
    if (window->decorFrame != nullptr) {
        if (maximized) {
            libdecor_frame_set_maximized(window->decorFrame.get());
        } else {
            libdecor_frame_unset_maximized(window->decorFrame.get());
        }
        return;
    }
#endif
    if (maximized) {
        xdg_toplevel_set_maximized(window->toplevel.get());
    } else {
        xdg_toplevel_unset_maximized(window->toplevel.get());
    }
}

void WaylandBackend::MakeRole(NativeWindow* window, bool maximized) {
    window->configured = false;
    window->configureWidth = 0;
    window->configureHeight = 0;
#if OSTREVANE_HAVE_LIBDECOR
    if (decor_ != nullptr) {
        window->decorFrame.reset(
            libdecor_decorate(decor_, window->surface.get(), &kLibdecorFrameInterface, window));
        if (window->decorFrame != nullptr) {
            libdecor_frame* frame = window->decorFrame.get();
            libdecor_frame_set_title(frame, window->title.c_str());
            libdecor_frame_set_app_id(frame, program_.c_str());
            libdecor_frame_set_max_content_size(frame, kMaxSurfaceSide, kMaxSurfaceSide);
            if (maximized) {
                libdecor_frame_set_maximized(frame);
            }
            // Commits the surface without a buffer, as below.
            libdecor_frame_map(frame);
            return;
        }
    }
#endif
    window->xdgSurface.reset(xdg_wm_base_get_xdg_surface(wmBase_.get(), window->surface.get()));
    xdg_surface_add_listener(window->xdgSurface.get(), &kXdgSurfaceListener, window);
    window->toplevel.reset(xdg_surface_get_toplevel(window->xdgSurface.get()));
    xdg_toplevel* toplevel = window->toplevel.get();
    xdg_toplevel_add_listener(toplevel, &kToplevelListener, window);
    xdg_toplevel_set_title(toplevel, window->title.c_str());
    xdg_toplevel_set_app_id(toplevel, program_.c_str());
    xdg_toplevel_set_max_size(toplevel, kMaxSurfaceSide, kMaxSurfaceSide);
    if (maximized) {
        xdg_toplevel_set_maximized(toplevel);
    }
    if (decorationManager_ != nullptr) {
        window->decoration.reset(
            zxdg_decoration_manager_v1_get_toplevel_decoration(decorationManager_.get(), toplevel));
        zxdg_toplevel_decoration_v1_add_listener(window->decoration.get(),
                                                 &kXdgToplevelDecorationListener, window);
        zxdg_toplevel_decoration_v1_set_mode(window->decoration.get(),
                                             ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
    }
    // The first commit carries no buffer: the compositor answers with the
    // first configure, after which the window may show pixels.
    wl_surface_commit(window->surface.get());
}

void WaylandBackend::DropRole(NativeWindow* window) {
    window->frame.reset();
    // Unmapped first: a surface given a role again must hold no buffer.
    if (window->HasRole() && window->configured && !lost_) {
        wl_surface_attach(window->surface.get(), nullptr, 0, 0);
        wl_surface_commit(window->surface.get());
    }
#if OSTREVANE_HAVE_LIBDECOR
    window->decorFrame.reset();
#endif
    window->decoration.reset();
    window->toplevel.reset();
    window->xdgSurface.reset();
    window->configured = false;
    // Shown again, the window starts from a fresh buffer.
    window->buffers.Forget();
}

#if OSTREVANE_HAVE_LIBDECOR
// Makes the libdecor context, unless there is one or the compositor cannot
// show its frames (they are subsurfaces). It binds globals of its own, which
// one more round trip brings in. False only when the connection failed
// meanwhile.
bool WaylandBackend::StartLibdecor() {
    if (decor_ != nullptr || !subcompositorOffered_) {
        return true;
    }
    Process().decorOwner = this;
    decor_ = libdecor_new(display_.get(), &kLibdecorInterface);
    if (decor_ == nullptr) {
        return true;
    }
    if (wl_display_roundtrip(display_.get()) < 0) {
        return false;
    }
    decorReady_ = true;
    return true;
}

// Windows whose compositor answered the request for server-side decorations
// with client-side ones get libdecor's frame instead: a new role, as libdecor
// makes its own toplevel.
void WaylandBackend::Redecorate() {
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
        }
    }
}
#endif

int ConfiguredSide(int configured, int current) {
    return std::clamp(configured == 0 ? current : configured, 1, kMaxSurfaceSide);
}

}  // namespace wayland
}  // namespace platform
