// On Linux, the AppKit display (GNUstep's) is a module of its own
// (ostrevane-appkit.so), which the desktop entry point loads only when
// OSTREVANE_BACKEND=appkit asks for it: other programs never map GNUstep and
// the Objective-C run-time. As the Wayland module, it exports one C
// function whose name carries the version of this interface.
#ifndef OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_MODULE_H
#define OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_MODULE_H

#include <cstddef>

#include "platform/backends/backend.h"

#define OSTREVANE_APPKIT_MODULE_FILE "ostrevane-appkit.so"
#define OSTREVANE_APPKIT_MODULE_ENTRY "ostrevane_appkit_open_v1"

// As platform::appkit::OpenAppKit. The program deletes the back end it gets
// through its virtual destructor. On failure returns nullptr and puts a
// one-line reason, NUL-terminated, into `error` (`errorSize` bytes).
typedef platform::Backend* (*AppKitModuleEntry)(const char* programName, char* error,
                                                std::size_t errorSize);

#endif  // OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_MODULE_H
