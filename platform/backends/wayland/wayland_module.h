// The Wayland display as a module of its own (see display_module.h): a
// program on X11 never maps libwayland-client, xkbcommon and libdecor,
// which cost about as much at start as everything else the dynamic loader
// does.
#ifndef OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_MODULE_H
#define OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_MODULE_H

#include "platform/backends/display_module.h"

#define OSTREVANE_WAYLAND_MODULE_FILE "ostrevane-wayland.so"
#define OSTREVANE_WAYLAND_MODULE_ENTRY "ostrevane_wayland_module"

#endif  // OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_MODULE_H
