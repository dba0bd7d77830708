// The X11 display: top-level windows on an X server, through Xlib.
#ifndef OSTREVANE_PLATFORM_BACKENDS_X11_X11_BACKEND_H
#define OSTREVANE_PLATFORM_BACKENDS_X11_X11_BACKEND_H

#include <cstddef>
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

// Decodes `length` bytes of UTF-8 (what the input method hands out) into
// at most `capacity` code points; returns how many. Each ill-formed part (a
// byte that starts no sequence, a sequence cut short, an overlong form, a
// surrogate, beyond U+10FFFF) becomes one U+FFFD, and decoding goes on
// after it.
int DecodeUtf8(const char* text, std::size_t length, char32_t* out, int capacity);

}  // namespace x11
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_X11_X11_BACKEND_H
