// On Linux, the AppKit display (GNUstep's) is a module of its own (see
// display_module.h), which the desktop entry point loads only when
// OSTREVANE_BACKEND=appkit asks for it: other programs never map GNUstep and
// the Objective-C run-time.
#ifndef OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_MODULE_H
#define OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_MODULE_H

#include "platform/backends/display_module.h"

#define OSTREVANE_APPKIT_MODULE_FILE "ostrevane-appkit.so"
#define OSTREVANE_APPKIT_MODULE_ENTRY "ostrevane_appkit_module"

#endif  // OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_MODULE_H
