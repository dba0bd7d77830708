// The X11 display: top-level windows on an X server, through Xlib.
#ifndef OSTREVANE_PLATFORM_BACKENDS_X11_X11_BACKEND_H
#define OSTREVANE_PLATFORM_BACKENDS_X11_X11_BACKEND_H

#include <memory>
#include <string>

#include "platform/backends/backend.h"

namespace platform {
namespace x11 {

// Connects to the display that DISPLAY names. On failure returns nullptr
// and sets `error` to a one-line reason that names the display. If the
// connection is lost later, a line starting with `programName` goes to
// stderr and the back end reports itself broken.
std::unique_ptr<Backend> OpenDisplay(const std::string& programName, std::string* error);

}  // namespace x11
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_X11_X11_BACKEND_H
