// Which display a program on a Linux desktop opens. The displays are one
// table (display_table.cpp), a row each, in the order a start without
// OSTREVANE_BACKEND tries them: a Wayland compositor when one is reachable,
// then an X server. OSTREVANE_BACKEND names one instead (also appkit, in
// builds with GNUstep's AppKit). Choosing, opening, the fallback order and
// the one-line errors all read the table.
#ifndef OSTREVANE_PLATFORM_BACKENDS_DESKTOP_DISPLAY_CHOICE_H
#define OSTREVANE_PLATFORM_BACKENDS_DESKTOP_DISPLAY_CHOICE_H

#include <functional>
#include <string>
#include <vector>

#include "platform/backends/backend.h"

namespace platform {
namespace desktop {

// What the choice looks at.
struct Environment {
    // The value of an environment variable; null when it is not set.
    std::function<const char*(const char* name)> variable;
    // Whether a path names something.
    std::function<bool(const std::string& path)> exists;
};

struct Display {
    const char* name;   // its value of OSTREVANE_BACKEND
    const char* title;  // its name in messages: "the <title> display"
    bool built;         // this build has it
    // Whether a start without OSTREVANE_BACKEND tries it: true if so,
    // otherwise false with why not in `why`, for the one-line error if no
    // display opens. Null: it is only ever chosen by name.
    bool (*reachable)(const Environment& environment, std::string* why);
    // Linked into the program: what opens it. Otherwise (null) it is a
    // module (display_module.h): its file, and the entry point it exports.
    DisplayOpener open;
    const char* moduleFile;
    const char* moduleEntry;
};

struct DisplayChoice {
    // The displays to try, in turn, until one opens.
    std::vector<const Display*> order;
    // Why displays that could have been tried are not among them; part of
    // the one-line error when nothing opens.
    std::string skipped;
    // Set when the choice itself is wrong; then `order` is empty.
    std::string error;
};

// Chooses from `table` (rows as above) what `environment` asks for.
DisplayChoice ChooseDisplays(const std::vector<Display>& table, const Environment& environment);

// This build's displays (display_table.cpp).
const std::vector<Display>& DesktopDisplays();

}  // namespace desktop
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_DESKTOP_DISPLAY_CHOICE_H
