// What the X11 display asks the server before its first window: the atoms
// it names properties and messages with, and whether RandR names a primary
// output. Asked through Xlib's XCB connection, so that every question is in
// flight at once and the answers take two round trips, not one each.
#ifndef OSTREVANE_PLATFORM_BACKENDS_X11_X11_CONNECTION_H
#define OSTREVANE_PLATFORM_BACKENDS_X11_X11_CONNECTION_H

#include <X11/Xlib.h>

namespace platform {
namespace x11 {

struct ConnectionFacts {
    bool randr = false;         // the server has RandR 1.3 or later
    bool randrPrimary = false;  // and RandR names a primary output
    // The connection broke while the questions were out. XCB saw it, Xlib
    // has not: Xlib's next request would fail to take the socket back from
    // XCB, and Xlib then hands its callers no room for the request.
    bool lost = false;
};

// Interns `count` atoms into `atoms` (None where the server gave none) and
// finds out what RandR offers, without a reply being waited for until every
// request has been sent. Xlib's own RandR library is left untouched: it asks
// the server more (the Generic Event extension, twice) when it starts.
ConnectionFacts QueryConnection(Display* display, const char* const* names, int count, Atom* atoms);

}  // namespace x11
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_X11_X11_CONNECTION_H
