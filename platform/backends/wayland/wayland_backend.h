// The Wayland display: top-level xdg-shell windows on a Wayland compositor,
// through libwayland-client.
#ifndef OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_BACKEND_H
#define OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_BACKEND_H

#include <memory>
#include <string>

#include "platform/backends/backend.h"

namespace platform {
namespace wayland {

// Connects to the compositor that WAYLAND_DISPLAY names (wayland-0 when it
// is unset). On failure, also when the compositor lacks xdg_wm_base or
// wl_shm, returns nullptr and sets `error` to a one-line reason that names
// the compositor. If the connection is lost later, or the compositor reports
// a protocol error, a line starting with `programName` goes to stderr and
// the back end reports itself broken.
std::unique_ptr<Backend> OpenCompositor(const std::string& programName, std::string* error);

// The size the client area takes from an xdg_toplevel.configure of
// `width` x `height`: 0 lets the client keep `current`; anything else is
// held to 1..kMaxSurfaceSide.
int ConfiguredSide(int configured, int current);

// An output's size in logical pixels: its xdg-output logical size where
// known (both sides positive), else its current mode turned by its
// transform and divided by its scale (rounded up). Each side is held to
// 1..kMaxSurfaceSide; 0 when nothing is known.
void LogicalOutputSize(int logicalWidth, int logicalHeight, int modeWidth, int modeHeight,
                       int transform, int scale, int* width, int* height);

}  // namespace wayland
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_BACKEND_H
