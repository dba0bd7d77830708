// The Wayland display as a module of its own (ostrevane-wayland.so), which
// the desktop entry point loads only when it opens a compositor: a program
// on X11 then never maps libwayland-client, xkbcommon and libdecor, which
// cost about as much at start as everything else the dynamic loader does.
//
// The module exports one C function; nothing of the C++ run-time crosses
// between the module and the program, which has its own linked in. Its name carries the version of
// this interface, so that a module from another build is refused, not called.
#ifndef OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_MODULE_H
#define OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_MODULE_H

#include <cstddef>

#include "platform/backends/backend.h"

#define OSTREVANE_WAYLAND_MODULE_FILE "ostrevane-wayland.so"
#define OSTREVANE_WAYLAND_MODULE_ENTRY "ostrevane_wayland_open_v1"

// As platform::wayland::OpenCompositor. The program deletes the back end it
// gets through its virtual destructor. On failure returns nullptr and puts a
// one-line reason, NUL-terminated, into `error` (`errorSize` bytes).
typedef platform::Backend* (*WaylandModuleEntry)(const char* programName, char* error,
                                                 std::size_t errorSize);

#endif  // OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_MODULE_H
