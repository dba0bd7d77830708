// x11_refuse: preloaded into the program (LD_PRELOAD), it turns one of the
// requests that make the program's window into one the X server must
// refuse, as a server out of resources would refuse it. X11_REFUSE says
// which:
//   window    XCreateWindow asks for a window no pixel wide (BadValue)
//   gc        XCreateGC for a window names no drawable (BadDrawable)
//   property  XChangeProperty asks for a format that does not exist
//             (BadValue)
// Everything else goes to Xlib unchanged.
#include <X11/Xlib.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace {

bool Refused(const char* what) {
    const char* chosen = std::getenv("X11_REFUSE");
    return chosen != nullptr && std::strcmp(chosen, what) == 0;
}

// Xlib's own function of that name.
template <typename Function>
Function Xlib(Function, const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" Window XCreateWindow(Display* display, Window parent, int x, int y, unsigned width,
                                unsigned height, unsigned border, int depth, unsigned windowClass,
                                Visual* visual, unsigned long mask,
                                XSetWindowAttributes* attributes) {
    return Xlib(&XCreateWindow, "XCreateWindow")(display, parent, x, y,
                                                 Refused("window") ? 0 : width, height, border,
                                                 depth, windowClass, visual, mask, attributes);
}

// Not the screens' default GCs, which XOpenDisplay makes on their roots.
extern "C" GC XCreateGC(Display* display, Drawable drawable, unsigned long mask,
                        XGCValues* values) {
    bool onRoot = false;
    for (int screen = 0; screen < ScreenCount(display); ++screen) {
        onRoot = onRoot || drawable == RootWindow(display, screen);
    }
    return Xlib(&XCreateGC, "XCreateGC")(display, Refused("gc") && !onRoot ? None : drawable, mask,
                                         values);
}

extern "C" int XChangeProperty(Display* display, Window window, Atom property, Atom type,
                               int format, int mode, const unsigned char* data, int count) {
    return Xlib(&XChangeProperty, "XChangeProperty")(
        display, window, property, type, Refused("property") ? 7 : format, mode, data, count);
}
