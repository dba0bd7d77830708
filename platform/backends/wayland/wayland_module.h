// The Wayland display as a module of its own (ostrevane-wayland.so), which
// the desktop entry point loads only when it opens a compositor: a program
// on X11 then never maps libwayland-client, xkbcommon and libdecor, which
// cost about as much at start as everything else the dynamic loader does.
//
// The boundary is C: the module exports one function, which returns a table
// of C function pointers over an opaque display. What crosses is plain data
// (C types, and the window manager's BackendEvent, Surface and RECT, which
// are standard-layout structs of C types); nothing of the C++ run-time does,
// as the program has its own linked in. The loader refuses a table of
// another version or other struct sizes: a module from another build.
#ifndef OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_MODULE_H
#define OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_MODULE_H

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "platform/backends/backend.h"
#include "platform/gdi/surface.h"

#define OSTREVANE_WAYLAND_MODULE_FILE "ostrevane-wayland.so"
#define OSTREVANE_WAYLAND_MODULE_ENTRY "ostrevane_wayland_module"
// Raised whenever the table or what crosses it changes.
#define OSTREVANE_WAYLAND_MODULE_VERSION 2u

static_assert(std::is_standard_layout<platform::BackendEvent>::value &&
                  std::is_trivially_copyable<platform::BackendEvent>::value &&
                  std::is_standard_layout<platform::Surface>::value &&
                  std::is_trivially_copyable<platform::Surface>::value,
              "only plain data crosses the module's boundary");

extern "C" {

typedef struct OstrevaneWaylandDisplay OstrevaneWaylandDisplay;

// Each function is as the platform::Backend member of the same name, over a
// display that `open` made. Booleans are ints (0 or 1); `show` is a
// platform::WindowShow and next_event's result a platform::WaitResult, as
// ints.
typedef struct OstrevaneWaylandModule {
    uint32_t version;      // OSTREVANE_WAYLAND_MODULE_VERSION
    uint32_t eventSize;    // sizeof(platform::BackendEvent)
    uint32_t surfaceSize;  // sizeof(platform::Surface)
    // As platform::wayland::OpenCompositor: null on failure, with a one-line
    // reason, NUL-terminated, in `error` (`errorSize` bytes).
    OstrevaneWaylandDisplay* (*open)(const char* programName, char* error, size_t errorSize);
    void (*close)(OstrevaneWaylandDisplay* display);
    void (*get_screen_size)(OstrevaneWaylandDisplay* display, int* width, int* height);
    int (*create_window)(OstrevaneWaylandDisplay* display, uintptr_t window, const char* className,
                         const char* title, const RECT* rect);
    void (*destroy_window)(OstrevaneWaylandDisplay* display, uintptr_t window);
    void (*show_window)(OstrevaneWaylandDisplay* display, uintptr_t window, int show);
    void (*present)(OstrevaneWaylandDisplay* display, uintptr_t window,
                    const platform::Surface* surface, const RECT* area);
    int (*next_event)(OstrevaneWaylandDisplay* display, platform::BackendEvent* event, int wait);
    int (*loss_grace_milliseconds)(OstrevaneWaylandDisplay* display);
} OstrevaneWaylandModule;

typedef const OstrevaneWaylandModule* (*OstrevaneWaylandModuleEntry)(void);

}  // extern "C"

#endif  // OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_MODULE_H
