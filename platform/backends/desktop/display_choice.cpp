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
    // The displays OSTREVANE_BACKEND may name, and whether this build has
    // each.
    const struct {
        const char* name;
        const char* title;
        DisplayKind kind;
        bool built;
    } kNamed[] = {{"x11", "X11", DisplayKind::kX11, true},
                  {"wayland", "Wayland", DisplayKind::kWayland, waylandBuilt},
                  {"appkit", "AppKit", DisplayKind::kAppKit, appkitBuilt}};
    for (const auto& display : kNamed) {
        if (named != display.name) {
            continue;
        }
        if (display.built) {
            choice.order = {display.kind};
        } else {
            choice.error = "OSTREVANE_BACKEND=" + named + ", but this build has no " +
                           display.title + " display";
        }
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
