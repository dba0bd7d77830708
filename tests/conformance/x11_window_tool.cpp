// x11_window_tool: what the program tests do to a window on an X display, as
// a user and a window manager would: find it by its title, photograph it,
// and ask it to close.
//
//   x11_window_tool find TITLE SECONDS    print the id of the viewable window
//                                         titled TITLE, waiting up to SECONDS
//   x11_window_tool capture WINDOW FILE   write the window's pixels as a PNG
//   x11_window_tool close WINDOW          send WM_DELETE_WINDOW, as a window
//                                         manager's close button does
//   x11_window_tool exists WINDOW         exit 0 if the window still exists
//
// Exit status: 0 done, 1 the window or display is not there or the request
// failed, 2 bad usage.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tools/png_file.h"

namespace {

const char kProgram[] = "x11_window_tool";

// Requests on a window that vanished must not kill the tool: they turn into
// a failed request that the caller reports.
bool g_x_error = false;
int RecordError(Display*, XErrorEvent*) {
    g_x_error = true;
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: %s find TITLE SECONDS | capture WINDOW FILE | close WINDOW | "
                 "exists WINDOW\n",
                 kProgram);
    return 2;
}

bool ParseWindow(const char* text, Window* window) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 0);
    if (end == text || *end != '\0' || value == 0) {
        return false;
    }
    *window = static_cast<Window>(value);
    return true;
}

// The window's title: _NET_WM_NAME (UTF-8) when set, else WM_NAME.
std::string WindowTitle(Display* display, Window window) {
    std::string title;
    Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, net_wm_name, 0, 1024, False, utf8, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && type == utf8 && format == 8) {
        title.assign(reinterpret_cast<char*>(data), count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    if (!title.empty()) {
        return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name != nullptr) {
        title = name;
        XFree(name);
    }
    return title;
}

// Depth-first search of the tree under `parent` for a viewable window with
// the title; a window manager, if any, may have reparented it.
Window FindTitled(Display* display, Window parent, const std::string& title) {
    Window root = 0, up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count)) {
        return 0;
    }
    Window found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes)) {
            continue;
        }
        if (attributes.map_state == IsViewable && WindowTitle(display, children[i]) == title) {
            found = children[i];
        } else {
            found = FindTitled(display, children[i], title);
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return found;
}

int Find(Display* display, const std::string& title, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        g_x_error = false;
        Window window = FindTitled(display, DefaultRootWindow(display), title);
        if (window != 0) {
            std::printf("0x%lx\n", static_cast<unsigned long>(window));
            return 0;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "%s: no viewable window titled '%s' after %g s\n", kProgram,
                         title.c_str(), seconds);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Position of the lowest set bit and the width of a colour mask, to turn a
// pixel of any true-colour visual into 8-bit channels.
void MaskShape(unsigned long mask, int* shift, int* bits) {
    *shift = 0;
    *bits = 0;
    while (mask != 0 && (mask & 1UL) == 0) {
        mask >>= 1;
        ++*shift;
    }
    while ((mask & 1UL) != 0) {
        mask >>= 1;
        ++*bits;
    }
}

unsigned char Channel(unsigned long pixel, unsigned long mask) {
    int shift = 0, bits = 0;
    MaskShape(mask, &shift, &bits);
    if (bits == 0) {
        return 0;
    }
    unsigned long value = (pixel & mask) >> shift;
    unsigned long top = (1UL << bits) - 1;
    return static_cast<unsigned char>((value * 255 + top / 2) / top);
}

int Capture(Display* display, Window window, const char* file) {
    XWindowAttributes attributes;
    g_x_error = false;
    if (!XGetWindowAttributes(display, window, &attributes) || g_x_error) {
        std::fprintf(stderr, "%s: no window 0x%lx\n", kProgram, static_cast<unsigned long>(window));
        return 1;
    }
    if (attributes.map_state != IsViewable) {
        std::fprintf(stderr, "%s: window 0x%lx is not viewable\n", kProgram,
                     static_cast<unsigned long>(window));
        return 1;
    }
    if (attributes.visual->c_class != TrueColor && attributes.visual->c_class != DirectColor) {
        std::fprintf(stderr, "%s: window 0x%lx has no true-colour visual\n", kProgram,
                     static_cast<unsigned long>(window));
        return 1;
    }
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    XSync(display, False);
    if (image == nullptr || g_x_error) {
        std::fprintf(stderr, "%s: cannot read the pixels of window 0x%lx\n", kProgram,
                     static_cast<unsigned long>(window));
        if (image != nullptr) {
            XDestroyImage(image);
        }
        return 1;
    }
    const int width = attributes.width;
    const int height = attributes.height;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            pixels[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint32_t>(Channel(pixel, attributes.visual->red_mask)) << 16 |
                static_cast<std::uint32_t>(Channel(pixel, attributes.visual->green_mask)) << 8 |
                Channel(pixel, attributes.visual->blue_mask);
        }
    }
    XDestroyImage(image);
    std::string error;
    if (!WritePngFile(file, pixels, width, height, &error)) {
        std::fprintf(stderr, "%s: cannot write '%s': %s\n", kProgram, file, error.c_str());
        return 1;
    }
    return 0;
}

// The message a window manager sends when the user closes a window. A
// window that does not list WM_DELETE_WINDOW in WM_PROTOCOLS cannot be
// closed this way, and a window manager would kill its client instead.
int Close(Display* display, Window window) {
    Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom delete_window = XInternAtom(display, "WM_DELETE_WINDOW", False);
    Atom* listed = nullptr;
    int count = 0;
    g_x_error = false;
    bool accepts = false;
    if (XGetWMProtocols(display, window, &listed, &count) && !g_x_error) {
        for (int i = 0; i < count; ++i) {
            accepts = accepts || listed[i] == delete_window;
        }
    }
    if (listed != nullptr) {
        XFree(listed);
    }
    if (g_x_error) {
        std::fprintf(stderr, "%s: no window 0x%lx\n", kProgram, static_cast<unsigned long>(window));
        return 1;
    }
    if (!accepts) {
        std::fprintf(stderr, "%s: window 0x%lx does not take WM_DELETE_WINDOW\n", kProgram,
                     static_cast<unsigned long>(window));
        return 1;
    }
    XEvent event;
    std::memset(&event, 0, sizeof(event));
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(delete_window);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    if (g_x_error) {
        std::fprintf(stderr, "%s: cannot send to window 0x%lx\n", kProgram,
                     static_cast<unsigned long>(window));
        return 1;
    }
    return 0;
}

int Exists(Display* display, Window window) {
    XWindowAttributes attributes;
    g_x_error = false;
    bool there = XGetWindowAttributes(display, window, &attributes) && !g_x_error;
    return there ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string command = argv[1];
    Window window = 0;
    double seconds = 0;
    if (command == "find") {
        char* end = nullptr;
        seconds = argc == 4 ? std::strtod(argv[3], &end) : -1;
        if (argc != 4 || end == argv[3] || *end != '\0' || !(seconds >= 0 && seconds <= 3600)) {
            return Usage();
        }
    } else if (command == "capture") {
        if (argc != 4 || !ParseWindow(argv[2], &window)) {
            return Usage();
        }
    } else if (command == "close" || command == "exists") {
        if (argc != 3 || !ParseWindow(argv[2], &window)) {
            return Usage();
        }
    } else {
        return Usage();
    }

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "%s: cannot open display '%s'\n", kProgram, XDisplayName(nullptr));
        return 1;
    }
    XSetErrorHandler(RecordError);
    int status = 1;
    if (command == "find") {
        status = Find(display, argv[2], seconds);
    } else if (command == "capture") {
        status = Capture(display, window, argv[3]);
    } else if (command == "close") {
        status = Close(display, window);
    } else {
        status = Exists(display, window);
    }
    XCloseDisplay(display);
    return status;
}
