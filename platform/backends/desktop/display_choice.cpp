#include "platform/backends/desktop/display_choice.h"

namespace platform {
namespace desktop {

namespace {

bool Set(const char* value) { return value != nullptr && value[0] != '\0'; }

}  // namespace

DisplayChoice ChooseDisplays(const char* forced, const char* waylandDisplay, const char* runtimeDir,
                             bool waylandBuilt,
                             const std::function<bool(const std::string&)>& exists,
                             bool appkitBuilt) {
    DisplayChoice choice;
    std::string named = Set(forced) ? forced : "";
    if (named == "x11") {
        choice.order = {DisplayKind::kX11};
        return choice;
    }
    if (named == "wayland") {
        if (!waylandBuilt) {
            choice.error = "OSTREVANE_BACKEND=wayland, but this build has no Wayland display";
            return choice;
        }
        choice.order = {DisplayKind::kWayland};
        return choice;
    }
    if (named == "appkit") {
        if (!appkitBuilt) {
            choice.error = "OSTREVANE_BACKEND=appkit, but this build has no AppKit display";
            return choice;
        }
        choice.order = {DisplayKind::kAppKit};
        return choice;
    }
    if (!named.empty()) {
        choice.error = "OSTREVANE_BACKEND is \"" + named + "\"; it must be " +
                       (appkitBuilt ? "appkit, wayland or x11" : "wayland or x11");
        return choice;
    }
    if (!waylandBuilt) {
        choice.order = {DisplayKind::kX11};
        return choice;
    }
    // libwayland's own default: wayland-0 in the runtime folder.
    if (Set(waylandDisplay) ||
        (Set(runtimeDir) && exists(std::string(runtimeDir) + "/wayland-0"))) {
        choice.order = {DisplayKind::kWayland, DisplayKind::kX11};
        return choice;
    }
    choice.order = {DisplayKind::kX11};
    choice.waylandSkipped = Set(runtimeDir)
                                ? "no Wayland compositor (WAYLAND_DISPLAY is not set and " +
                                      std::string(runtimeDir) + "/wayland-0 does not exist)"
                                : "no Wayland compositor (neither WAYLAND_DISPLAY nor "
                                  "XDG_RUNTIME_DIR is set)";
    return choice;
}

}  // namespace desktop
}  // namespace platform
