// A display that lives in a module of its own (the Wayland display,
// ostrevane-wayland.so; GNUstep's AppKit, ostrevane-appkit.so), which the
// desktop entry point loads only when it opens that display: a program on
// X11 then never maps libwayland-client, libdecor, GNUstep or the
// Objective-C run-time.
//
// The boundary is C: a module exports one function, which returns a table
// of C function pointers over an opaque display. What crosses is plain data
// (C types, and the window manager's BackendEvent, ClientPixels and RECT,
// which are standard-layout structs of C types); nothing of the C++
// run-time does, as the program has its own linked in. The loader refuses a table of
// another version or other struct sizes: a module from another build.
#ifndef OSTREVANE_PLATFORM_BACKENDS_DISPLAY_MODULE_H
#define OSTREVANE_PLATFORM_BACKENDS_DISPLAY_MODULE_H

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "platform/backends/backend.h"

// Raised whenever the table or what crosses it changes.
#define OSTREVANE_DISPLAY_MODULE_VERSION 4u

static_assert(std::is_standard_layout<platform::BackendEvent>::value &&
                  std::is_trivially_copyable<platform::BackendEvent>::value &&
                  std::is_standard_layout<platform::ClientPixels>::value &&
                  std::is_trivially_copyable<platform::ClientPixels>::value,
              "only plain data crosses a module's boundary");

extern "C" {

typedef struct OstrevaneDisplay OstrevaneDisplay;

// Each function is as the platform::Backend member of the same name, over a
// display that `open` made. Booleans are ints (0 or 1); `show` is a
// platform::WindowShow and next_event's result a platform::WaitResult, as
// ints.
typedef struct OstrevaneDisplayModule {
    uint32_t version;     // OSTREVANE_DISPLAY_MODULE_VERSION
    uint32_t eventSize;   // sizeof(platform::BackendEvent)
    uint32_t pixelsSize;  // sizeof(platform::ClientPixels)
    // Opens the display: null on failure, with a one-line reason,
    // NUL-terminated, in `error` (`errorSize` bytes).
    OstrevaneDisplay* (*open)(const char* programName, char* error, size_t errorSize);
    void (*close)(OstrevaneDisplay* display);
    void (*get_screen_size)(OstrevaneDisplay* display, int* width, int* height);
    int (*create_window)(OstrevaneDisplay* display, uintptr_t window, const char* className,
                         const char* title, const RECT* rect);
    void (*destroy_window)(OstrevaneDisplay* display, uintptr_t window);
    void (*show_window)(OstrevaneDisplay* display, uintptr_t window, int show);
    void (*present)(OstrevaneDisplay* display, uintptr_t window,
                    const platform::ClientPixels* pixels, const RECT* area);
    int (*next_event)(OstrevaneDisplay* display, platform::BackendEvent* event, int wait);
    int (*loss_grace_milliseconds)(OstrevaneDisplay* display);
} OstrevaneDisplayModule;

typedef const OstrevaneDisplayModule* (*OstrevaneDisplayModuleEntry)(void);

}  // extern "C"

#endif  // OSTREVANE_PLATFORM_BACKENDS_DISPLAY_MODULE_H
