// The first-frame baseline: the least an Xlib program does to show a
// screen-sized picture. It maps a screen-sized window, waits for it to be
// exposed, puts one screen-sized image, and runs until WM_DELETE_WINDOW.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "bare_xlib_window: cannot open display\n");
        return 1;
    }
    int screen = DefaultScreen(display);
    int width = DisplayWidth(display, screen);
    int height = DisplayHeight(display, screen);
    Window root = RootWindow(display, screen);

    XSetWindowAttributes attributes = {};
    attributes.background_pixmap = None;
    attributes.event_mask = ExposureMask | StructureNotifyMask;
    Window window = XCreateWindow(display, root, 0, 0, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                                  CopyFromParent, CWBackPixmap | CWEventMask, &attributes);
    XStoreName(display, window, "bare_xlib_window");
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    XMapWindow(display, window);

    // A black picture with a red diagonal, in the server's 32-bit format.
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, 0);
    for (int i = 0; i < width && i < height; ++i) {
        pixels[static_cast<std::size_t>(i) * width + i] = 0xFF0000;
    }
    XImage* image =
        XCreateImage(display, DefaultVisual(display, screen), 24, ZPixmap, 0,
                     reinterpret_cast<char*>(pixels.data()), static_cast<unsigned>(width),
                     static_cast<unsigned>(height), 32, 0);
    GC gc = XCreateGC(display, window, 0, nullptr);

    bool drawn = false;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == Expose && !drawn) {
            XPutImage(display, window, gc, image, 0, 0, 0, 0, static_cast<unsigned>(width),
                      static_cast<unsigned>(height));
            XFlush(display);
            drawn = true;
        } else if (event.type == ClientMessage &&
                   static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
            break;
        }
    }
    image->data = nullptr;  // the pixels belong to the vector
    XDestroyImage(image);
    XFreeGC(display, gc);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}
