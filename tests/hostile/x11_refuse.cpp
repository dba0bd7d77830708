// x11_refuse: preloaded into the program (LD_PRELOAD), it makes the
// program's XCreateWindow ask for a window no pixel wide, which the X server
// must refuse (BadValue), as a server out of resources refuses a window.
#include <X11/Xlib.h>
#include <dlfcn.h>

extern "C" Window XCreateWindow(Display* display, Window parent, int x, int y, unsigned,
                                unsigned height, unsigned border, int depth, unsigned windowClass,
                                Visual* visual, unsigned long mask,
                                XSetWindowAttributes* attributes) {
    auto xlib = reinterpret_cast<decltype(&XCreateWindow)>(dlsym(RTLD_NEXT, "XCreateWindow"));
    return xlib(display, parent, x, y, 0, height, border, depth, windowClass, visual, mask,
                attributes);
}
