// x11_refuse: preloaded into the program (LD_PRELOAD), it makes the X server
// refuse one of its requests. By default the program's XCreateWindow asks
// for a window no pixel wide, which the server must refuse (BadValue), as a
// server out of resources refuses a window. With X11_REFUSE=after-creation
// the window is made as asked, and mapping it first sends a property
// change the server refuses (BadAtom): an error that comes after the
// window was made.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace {

bool AfterCreation() {
    const char* when = std::getenv("X11_REFUSE");
    return when != nullptr && std::strcmp(when, "after-creation") == 0;
}

template <typename Function>
Function* Next(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" Window XCreateWindow(Display* display, Window parent, int x, int y, unsigned width,
                                unsigned height, unsigned border, int depth, unsigned windowClass,
                                Visual* visual, unsigned long mask,
                                XSetWindowAttributes* attributes) {
    return Next<decltype(XCreateWindow)>("XCreateWindow")(
        display, parent, x, y, AfterCreation() ? width : 0, height, border, depth, windowClass,
        visual, mask, attributes);
}

extern "C" int XMapRaised(Display* display, Window window) {
    if (AfterCreation()) {
        const unsigned char value = 0;
        XChangeProperty(display, window, None, XA_STRING, 8, PropModeReplace, &value, 1);
    }
    return Next<decltype(XMapRaised)>("XMapRaised")(display, window);
}
