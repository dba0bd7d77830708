// The displays of programs for Linux desktops, a row each, in the order a
// start without OSTREVANE_BACKEND tries them (see display_choice.h). A new
// display is a row here and a folder of its own beside the others.
#include "platform/backends/appkit/appkit_module.h"
#include "platform/backends/desktop/display_choice.h"
#include "platform/backends/wayland/wayland_module.h"
#include "platform/backends/x11/x11_backend.h"

namespace platform {
namespace desktop {

namespace {

bool Set(const char* value) { return value != nullptr && value[0] != '\0'; }

// Where libwayland would connect: WAYLAND_DISPLAY, or by default wayland-0
// in the runtime folder.
bool WaylandReachable(const Environment& environment, std::string* why) {
    const char* runtimeDir = environment.variable("XDG_RUNTIME_DIR");
    if (Set(environment.variable("WAYLAND_DISPLAY")) ||
        (Set(runtimeDir) && environment.exists(std::string(runtimeDir) + "/wayland-0"))) {
        return true;
    }
    *why = Set(runtimeDir) ? "no Wayland compositor (WAYLAND_DISPLAY is not set and " +
                                 std::string(runtimeDir) + "/wayland-0 does not exist)"
                           : "no Wayland compositor (neither WAYLAND_DISPLAY nor "
                             "XDG_RUNTIME_DIR is set)";
    return false;
}

// Opening it is the only way to know.
bool AlwaysTried(const Environment&, std::string*) { return true; }

}  // namespace

const std::vector<Display>& DesktopDisplays() {
    static const std::vector<Display> table = {
        {"wayland", "Wayland", OSTREVANE_HAVE_WAYLAND != 0, WaylandReachable, nullptr,
         OSTREVANE_WAYLAND_MODULE_FILE, OSTREVANE_WAYLAND_MODULE_ENTRY},
        {"x11", "X11", true, AlwaysTried, x11::OpenDisplay, nullptr, nullptr},
        {"appkit", "AppKit", OSTREVANE_HAVE_APPKIT != 0, nullptr, nullptr,
         OSTREVANE_APPKIT_MODULE_FILE, OSTREVANE_APPKIT_MODULE_ENTRY},
    };
    return table;
}

}  // namespace desktop
}  // namespace platform
