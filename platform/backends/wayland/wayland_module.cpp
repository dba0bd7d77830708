// The entry point of ostrevane-wayland.so and its table; see
// wayland_module.h. The functions are noexcept: nothing thrown crosses the
// boundary.
#include "platform/backends/wayland/wayland_module.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "platform/backends/wayland/wayland_backend.h"

namespace {

platform::Backend* Of(OstrevaneWaylandDisplay* display) {
    return reinterpret_cast<platform::Backend*>(display);
}

OstrevaneWaylandDisplay* Open(const char* programName, char* error, size_t errorSize) noexcept {
    std::string reason;
    std::unique_ptr<platform::Backend> backend =
        platform::wayland::OpenCompositor(programName != nullptr ? programName : "", &reason);
    if (backend == nullptr && error != nullptr && errorSize > 0) {
        std::size_t length = std::min(reason.size(), errorSize - 1);
        std::memcpy(error, reason.data(), length);
        error[length] = '\0';
    }
    return reinterpret_cast<OstrevaneWaylandDisplay*>(backend.release());
}

void Close(OstrevaneWaylandDisplay* display) noexcept { delete Of(display); }

void GetScreenSize(OstrevaneWaylandDisplay* display, int* width, int* height) noexcept {
    Of(display)->GetScreenSize(width, height);
}

int CreateNativeWindow(OstrevaneWaylandDisplay* display, uintptr_t window, const char* className,
                       const char* title, const RECT* rect) noexcept {
    return Of(display)->CreateNativeWindow(window, className, title, *rect) ? 1 : 0;
}

void DestroyNativeWindow(OstrevaneWaylandDisplay* display, uintptr_t window) noexcept {
    Of(display)->DestroyNativeWindow(window);
}

void ShowNativeWindow(OstrevaneWaylandDisplay* display, uintptr_t window, int show) noexcept {
    Of(display)->ShowNativeWindow(window, static_cast<platform::WindowShow>(show));
}

void Present(OstrevaneWaylandDisplay* display, uintptr_t window, const platform::Surface* surface,
             const RECT* area) noexcept {
    Of(display)->Present(window, *surface, *area);
}

int NextEvent(OstrevaneWaylandDisplay* display, platform::BackendEvent* event, int wait) noexcept {
    return static_cast<int>(Of(display)->NextEvent(event, wait != 0));
}

int LossGraceMilliseconds(OstrevaneWaylandDisplay* display) noexcept {
    return Of(display)->LossGraceMilliseconds();
}

const OstrevaneWaylandModule kModule = {
    OSTREVANE_WAYLAND_MODULE_VERSION,
    sizeof(platform::BackendEvent),
    sizeof(platform::Surface),
    Open,
    Close,
    GetScreenSize,
    CreateNativeWindow,
    DestroyNativeWindow,
    ShowNativeWindow,
    Present,
    NextEvent,
    LossGraceMilliseconds,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const OstrevaneWaylandModule*
ostrevane_wayland_module(void) {
    return &kModule;
}

static_assert(std::is_same<decltype(&ostrevane_wayland_module), OstrevaneWaylandModuleEntry>::value,
              "the module entry matches OstrevaneWaylandModuleEntry");
