// The entry point of ostrevane-wayland.so; see wayland_module.h.
#include "platform/backends/wayland/wayland_module.h"

#include "platform/backends/display_module_table.h"
#include "platform/backends/wayland/wayland_backend.h"

extern "C" __attribute__((visibility("default"))) const OstrevaneDisplayModule*
ostrevane_wayland_module(void) {
    return platform::DisplayModuleTable<platform::wayland::OpenCompositor>();
}

static_assert(std::is_same<decltype(&ostrevane_wayland_module), OstrevaneDisplayModuleEntry>::value,
              "the module entry matches OstrevaneDisplayModuleEntry");
