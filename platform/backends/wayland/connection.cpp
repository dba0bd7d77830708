// The connection to the compositor: the registry's globals, the event loop,
// and the one-line reports of a lost connection or a protocol error.
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/backends/failure_line.h"
#include "platform/backends/wayland/wayland_backend.h"
#include "platform/backends/wayland/wayland_display.h"

namespace platform {
namespace wayland {

ProcessState& Process() {
    static ProcessState state;
    return state;
}

namespace {

void KeepWaylandMessage(const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof(text), format, arguments);
    std::string& kept = Process().lastWaylandMessage;
    kept = text;
    while (!kept.empty() && (kept.back() == '\n' || kept.back() == ' ')) {
        kept.pop_back();
    }
}

void WmBaseHandlePing(void*, xdg_wm_base* base, std::uint32_t serial) {
    xdg_wm_base_pong(base, serial);
}

const xdg_wm_base_listener kWmBaseListener = {WmBaseHandlePing};

template <typename T>
T* Bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface,
        std::uint32_t version) {
    return static_cast<T*>(wl_registry_bind(registry, name, &interface, version));
}

void RegistryHandleGlobal(void* data, wl_registry* registry, std::uint32_t name,
                          const char* interface, std::uint32_t version) {
    auto* self = static_cast<WaylandBackend*>(data);
    std::string kind = interface;
    if (kind == wl_compositor_interface.name && self->compositor_ == nullptr) {
        self->compositorVersion_ = std::min(version, 4u);
        self->compositor_.reset(
            Bind<wl_compositor>(registry, name, wl_compositor_interface, self->compositorVersion_));
    } else if (kind == wl_shm_interface.name && self->shm_ == nullptr) {
        self->shm_.reset(Bind<wl_shm>(registry, name, wl_shm_interface, 1));
    } else if (kind == xdg_wm_base_interface.name && self->wmBase_ == nullptr) {
        self->wmBase_.reset(
            Bind<xdg_wm_base>(registry, name, xdg_wm_base_interface, std::min(version, 5u)));
        xdg_wm_base_add_listener(self->wmBase_.get(), &kWmBaseListener, self);
    } else if (kind == zxdg_decoration_manager_v1_interface.name &&
               self->decorationManager_ == nullptr) {
        self->decorationManager_.reset(Bind<zxdg_decoration_manager_v1>(
            registry, name, zxdg_decoration_manager_v1_interface, 1));
    } else if (kind == zxdg_output_manager_v1_interface.name && self->outputManager_ == nullptr) {
        self->outputManager_.reset(Bind<zxdg_output_manager_v1>(
            registry, name, zxdg_output_manager_v1_interface, std::min(version, 3u)));
    } else if (kind == wl_seat_interface.name && self->seat_ == nullptr) {
        self->BindSeat(registry, name, version);
    } else if (kind == "wl_subcompositor") {
        self->subcompositorOffered_ = true;
    } else if (kind == wl_output_interface.name) {
        self->AddOutput(registry, name, version);
    }
}

void RegistryHandleGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
    static_cast<WaylandBackend*>(data)->RemoveOutput(name);
}

const wl_registry_listener kRegistryListener = {RegistryHandleGlobal, RegistryHandleGlobalRemove};

}  // namespace

WaylandBackend::WaylandBackend(wl_display* display, const std::string& program,
                               const std::string& name)
    : display_(display), program_(program), name_(name) {}

WaylandBackend::~WaylandBackend() {
    while (!windows_.empty()) {
        DestroyNativeWindow(windows_.begin()->first);
    }
#if OSTREVANE_HAVE_LIBDECOR
    // A libdecor whose start the compositor cut short is left alone:
    // libdecor 0.1's plugin would destroy objects it never received.
    if (decor_ != nullptr && decorReady_) {
        libdecor_unref(decor_);
    }
    if (Process().decorOwner == this) {
        Process().decorOwner = nullptr;
    }
#endif
    // The protocol objects go with their members, the connection last.
}

bool WaylandBackend::Start(std::string* error) {
    registry_.reset(wl_display_get_registry(display_.get()));
    wl_registry_add_listener(registry_.get(), &kRegistryListener, this);
    if (wl_display_roundtrip(display_.get()) < 0) {
        *error = WhyFailed();
        return false;
    }
    if (compositor_ == nullptr || shm_ == nullptr || wmBase_ == nullptr) {
        *error = CompositorTitle(name_) + " offers no " +
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
    if (wl_display_roundtrip(display_.get()) < 0) {
        *error = WhyFailed();
        return false;
    }
#if OSTREVANE_HAVE_LIBDECOR
    // No server-side decorations: libdecor draws them.
    if (decorationManager_ == nullptr && !StartLibdecor()) {
        *error = WhyFailed();
        return false;
    }
#endif
    return true;
}

WaitResult WaylandBackend::NextEvent(BackendEvent* event, bool wait) {
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
            return lost_ ? WaitResult::kBroken : WaitResult::kNoEvent;
        }
        // Commits that waited for a frame or a buffer go out as soon as
        // the compositor allows them.
#if OSTREVANE_HAVE_LIBDECOR
        Redecorate();
#endif
        CommitReadyWindows();
        if (lost_ || !Dispatch(true)) {
            return WaitResult::kBroken;
        }
    }
}

std::string WaylandBackend::WhyFailed() {
    int code = wl_display_get_error(display_.get());
    if (code == EPROTO) {
        const wl_interface* interface = nullptr;
        std::uint32_t object = 0;
        std::uint32_t error = wl_display_get_protocol_error(display_.get(), &interface, &object);
        char text[160];
        std::snprintf(text, sizeof(text), "protocol error %u on %s@%u",
                      static_cast<unsigned>(error),
                      interface != nullptr ? interface->name : "an unknown object",
                      static_cast<unsigned>(object));
        // libwayland logs "object@id: error N: message"; the message is
        // the compositor's own words.
        std::string said = Process().lastWaylandMessage;
        std::size_t at = said.find(": error ");
        at = at == std::string::npos ? at : said.find(": ", at + 8);
        if (at != std::string::npos) {
            said = said.substr(at + 2);
        }
        return CompositorTitle(name_) + " reported a " + text + (said.empty() ? "" : ": " + said);
    }
    return DescribeFailure(Failure::kLost, CompositorTitle(name_),
                           code != 0 ? std::strerror(code) : "");
}

void WaylandBackend::MarkLost() {
    if (!lost_) {
        Fail(WhyFailed());
    }
}

void WaylandBackend::Fail(const std::string& reason) {
    if (!lost_) {
        lost_ = true;
        PrintFailureLine(program_, reason);
    }
}

bool WaylandBackend::FlushOutput() {
    while (wl_display_flush(display_.get()) < 0) {
        if (errno != EAGAIN) {
            MarkLost();
            return false;
        }
        // The socket is full: wait until the compositor reads.
        pollfd connection = {wl_display_get_fd(display_.get()), POLLOUT, 0};
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
// something arrives or a held key repeats. False when the connection is gone
// or broken.
bool WaylandBackend::Dispatch(bool wait) {
    wl_display* display = display_.get();
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) {
            MarkLost();
            return false;
        }
    }
    if (!FlushOutput()) {
        wl_display_cancel_read(display);
        return false;
    }
    pollfd connection = {wl_display_get_fd(display), POLLIN, 0};
    int ready = poll(&connection, 1, wait ? KeyRepeatTimeout() : 0);
    if (ready < 0 && errno != EINTR) {
        wl_display_cancel_read(display);
        MarkLost();
        return false;
    }
    if (ready > 0) {
        if (wl_display_read_events(display) < 0) {
            MarkLost();
            return false;
        }
    } else {
        wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) {
        MarkLost();
        return false;
    }
    QueueKeyRepeats();
    return true;
}

NativeWindow* WaylandBackend::FindBySurface(wl_surface* surface) {
    if (surface == nullptr) {
        return nullptr;
    }
    for (auto& entry : windows_) {
        if (entry.second.surface.get() == surface) {
            return &entry.second;
        }
    }
    return nullptr;
}

std::string CompositorTitle(const std::string& name) {
    return NamedDisplay("Wayland compositor", name);
}

std::unique_ptr<Backend> OpenCompositor(const std::string& programName, std::string* error) {
    wl_log_set_handler_client(KeepWaylandMessage);
    Process().lastWaylandMessage.clear();
    const char* named = std::getenv("WAYLAND_DISPLAY");
    std::string name = named != nullptr && named[0] != '\0' ? named : "wayland-0";
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        *error = "cannot connect to " + CompositorTitle(name);
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
