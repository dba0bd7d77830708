// The window manager's headers for the Objective-C++ files: Win32's BOOL (an
// int) and Objective-C's (a signed char or a bool) cannot share one name,
// so Win32's is declared under another while these headers are read. Its
// type stays int: the layouts and calls the back end shares with the
// window manager do not change.
#ifndef OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_WIN32_H
#define OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_WIN32_H

#define BOOL OstrevaneWin32Bool
#include "platform/backends/backend.h"
#undef BOOL

#endif  // OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_WIN32_H
