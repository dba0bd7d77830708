// The one line a program prints on stderr when its display cannot go on:
// the program's name, then what happened, naming the display and why.
//
//   ostrevane: cannot open display "" (DISPLAY is not set)
//   ostrevane: lost the connection to Wayland compositor "wayland-0"
//   ostrevane: display ":0" refused a window: X_CreateWindow: BadAlloc ...
//
// Every entry point and every back end prints it here; nothing else of the
// program's goes to stderr. Header-only, as the display modules print it
// too, from their own copy.
#ifndef OSTREVANE_PLATFORM_BACKENDS_FAILURE_LINE_H
#define OSTREVANE_PLATFORM_BACKENDS_FAILURE_LINE_H

#include <cstdio>
#include <string>

namespace platform {

enum class Failure {
    kCannotOpen,     // "cannot open <display> (<why>)"
    kLost,           // "lost the connection to <display> (<why>)"
    kRefusedWindow,  // "<display> refused a window: <why>"
};

// What happened to `display` ("display \":0\"", "the AppKit display"), in
// the words of the one line; `why` may be empty.
inline std::string DescribeFailure(Failure failure, const std::string& display,
                                   const std::string& why) {
    switch (failure) {
        case Failure::kCannotOpen:
            return "cannot open " + display + (why.empty() ? "" : " (" + why + ")");
        case Failure::kLost:
            return "lost the connection to " + display + (why.empty() ? "" : " (" + why + ")");
        case Failure::kRefusedWindow:
            break;
    }
    return display + " refused a window" + (why.empty() ? "" : ": " + why);
}

// A display as the one line names it: its kind, then its name in quotes
// (display ":0", Wayland compositor "wayland-0"). Each back end names its
// displays through one helper of its own that calls this.
inline std::string NamedDisplay(const std::string& kind, const std::string& name) {
    return kind + " \"" + name + "\"";
}

// Prints "<program>: <what>" on stderr at once. Safe to call from a
// library's last error handler, just before the process ends.
inline void PrintFailureLine(const std::string& program, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), what.c_str());
    std::fflush(stderr);
}

}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_FAILURE_LINE_H
