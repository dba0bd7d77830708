// The module side of display_module.h: the table of a module whose display
// `kOpen` opens, each entry forwarding to the platform::Backend it made.
// The entries are not noexcept: an exception that a display's toolkit
// raises and nothing catches (GNUstep's, say) must reach that toolkit's own
// last handler, which ends the program with its one line, instead of
// std::terminate.
#ifndef OSTREVANE_PLATFORM_BACKENDS_DISPLAY_MODULE_TABLE_H
#define OSTREVANE_PLATFORM_BACKENDS_DISPLAY_MODULE_TABLE_H

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "platform/backends/display_module.h"

namespace platform {

template <DisplayOpener kOpen>
const OstrevaneDisplayModule* DisplayModuleTable() {
    static const OstrevaneDisplayModule table = {
        OSTREVANE_DISPLAY_MODULE_VERSION,
        sizeof(BackendEvent),
        sizeof(ClientPixels),
        [](const char* programName, char* error, size_t errorSize) {
            std::string reason;
            std::unique_ptr<Backend> backend =
                kOpen(programName != nullptr ? programName : "", &reason);
            if (backend == nullptr && error != nullptr && errorSize > 0) {
                std::size_t length = std::min(reason.size(), errorSize - 1);
                std::memcpy(error, reason.data(), length);
                error[length] = '\0';
            }
            return reinterpret_cast<OstrevaneDisplay*>(backend.release());
        },
        [](OstrevaneDisplay* display) { delete reinterpret_cast<Backend*>(display); },
        [](OstrevaneDisplay* display, int* width, int* height) {
            reinterpret_cast<Backend*>(display)->GetScreenSize(width, height);
        },
        [](OstrevaneDisplay* display, uintptr_t window, const char* className, const char* title,
           const RECT* rect) {
            return reinterpret_cast<Backend*>(display)->CreateNativeWindow(window, className, title,
                                                                           *rect)
                       ? 1
                       : 0;
        },
        [](OstrevaneDisplay* display, uintptr_t window) {
            reinterpret_cast<Backend*>(display)->DestroyNativeWindow(window);
        },
        [](OstrevaneDisplay* display, uintptr_t window, int show) {
            reinterpret_cast<Backend*>(display)->ShowNativeWindow(window,
                                                                  static_cast<WindowShow>(show));
        },
        [](OstrevaneDisplay* display, uintptr_t window, const ClientPixels* pixels,
           const RECT* area) {
            reinterpret_cast<Backend*>(display)->Present(window, *pixels, *area);
        },
        [](OstrevaneDisplay* display, BackendEvent* event, int wait) {
            return static_cast<int>(
                reinterpret_cast<Backend*>(display)->NextEvent(event, wait != 0));
        },
        [](OstrevaneDisplay* display) {
            return reinterpret_cast<Backend*>(display)->LossGraceMilliseconds();
        },
    };
    return &table;
}

}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_DISPLAY_MODULE_TABLE_H
