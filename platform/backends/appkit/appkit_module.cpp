// The entry point of ostrevane-appkit.so; see appkit_module.h.
#include "platform/backends/appkit/appkit_module.h"

#include "platform/backends/appkit/appkit_backend.h"
#include "platform/backends/display_module_table.h"

extern "C" __attribute__((visibility("default"))) const OstrevaneDisplayModule*
ostrevane_appkit_module(void) {
    return platform::DisplayModuleTable<platform::appkit::OpenAppKit>();
}

static_assert(std::is_same<decltype(&ostrevane_appkit_module), OstrevaneDisplayModuleEntry>::value,
              "the module entry matches OstrevaneDisplayModuleEntry");
