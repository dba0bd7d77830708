// Asking an X client to close one of its windows, as a window manager's
// close button does: a WM_PROTOCOLS client message carrying WM_DELETE_WINDOW.
// Header-only, so that programs outside the test build (the benchmarks) can
// use it too.
#ifndef OSTREVANE_TESTS_SUPPORT_X11_DELETE_WINDOW_H
#define OSTREVANE_TESTS_SUPPORT_X11_DELETE_WINDOW_H

#include <X11/Xlib.h>

// Queues the message for `window`; the caller flushes or syncs. Returns
// XSendEvent's status: zero if the request could not be made.
inline Status SendDeleteWindow(Display* display, Window window) {
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    return XSendEvent(display, window, False, NoEventMask, &event);
}

#endif  // OSTREVANE_TESTS_SUPPORT_X11_DELETE_WINDOW_H
