// Which display a program on a Linux desktop opens: a Wayland compositor
// when one is reachable, otherwise an X server, unless OSTREVANE_BACKEND
// names one (also appkit, in builds with GNUstep's AppKit).
#ifndef OSTREVANE_PLATFORM_BACKENDS_DESKTOP_DISPLAY_CHOICE_H
#define OSTREVANE_PLATFORM_BACKENDS_DESKTOP_DISPLAY_CHOICE_H

#include <functional>
#include <string>
#include <vector>

namespace platform {
namespace desktop {

enum class DisplayKind { kWayland, kX11, kAppKit };

struct DisplayChoice {
    // The displays to try, in turn, until one opens.
    std::vector<DisplayKind> order;
    // Why Wayland is not among them although it could have been; part of
    // the one-line error when nothing opens.
    std::string waylandSkipped;
    // Set when the choice itself is wrong; then `order` is empty.
    std::string error;
};

// `forced` is OSTREVANE_BACKEND, `waylandDisplay` WAYLAND_DISPLAY,
// `runtimeDir` XDG_RUNTIME_DIR (each may be null); `exists` says whether a
// path names something. `waylandBuilt` is false in builds without Wayland,
// `appkitBuilt` true in those with AppKit, which is only ever chosen by name.
DisplayChoice ChooseDisplays(const char* forced, const char* waylandDisplay, const char* runtimeDir,
                             bool waylandBuilt,
                             const std::function<bool(const std::string&)>& exists,
                             bool appkitBuilt = false);

}  // namespace desktop
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_DESKTOP_DISPLAY_CHOICE_H
