// A Wayland module from another build, for the weston-no-xdg-shell case: its
// table has another version, and nothing in it may be called.
#include "platform/backends/wayland/wayland_module.h"

extern "C" __attribute__((visibility("default"))) const OstrevaneDisplayModule*
ostrevane_wayland_module(void) {
    static const OstrevaneDisplayModule table = []() {
        OstrevaneDisplayModule other = {};
        other.version = OSTREVANE_DISPLAY_MODULE_VERSION + 1;
        other.eventSize = sizeof(platform::BackendEvent);
        other.pixelsSize = sizeof(platform::ClientPixels);
        return other;
    }();
    return &table;
}
