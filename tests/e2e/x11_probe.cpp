// x11_probe: what the end-to-end tests ask of an X server.
//
//   x11_probe find TITLE TIMEOUT_MS   waits for a mapped window titled TITLE
//                                     and prints its id in hex
//   x11_probe info WINDOW             prints wm_name, net_wm_name, the client
//                                     area on the root (x y width height) and
//                                     whether it is viewable
//   x11_probe capture WINDOW FILE     writes the window's pixels as a binary
//                                     PPM (the window must lie on the screen)
//   x11_probe close WINDOW            sends WM_DELETE_WINDOW, as a window
//                                     manager's close button does
//   x11_probe primary WIDTH HEIGHT    shows a WIDTHxHEIGHT mode on the first
//                                     RandR output and makes it the primary
//                                     one, the X screen keeping its size
//
// Exit status: 0 done, 1 failed (reason on stderr), 2 bad usage.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "x11_probe: %s\n", message.c_str());
    return 1;
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

// Any protocol error (a window that went away, say) is reported, not fatal.
bool protocolError = false;
int OnError(Display*, XErrorEvent*) {
    protocolError = true;
    return 0;
}

std::string TextProperty(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, AnyPropertyType, &type,
                           &format, &count, &remaining, &data) != Success ||
        data == nullptr) {
        return std::string();
    }
    std::string text;
    if (format == 8) {
        text.assign(reinterpret_cast<char*>(data), count);
    }
    XFree(data);
    return text;
}

bool Mapped(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

Window FindTitled(Display* display, Window parent, const std::string& title, Atom netWmName) {
    Window root = 0;
    Window up = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count)) {
        return 0;
    }
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        Window child = children[i];
        if ((TextProperty(display, child, XA_WM_NAME) == title ||
             TextProperty(display, child, netWmName) == title) &&
            Mapped(display, child)) {
            found = child;
        } else {
            found = FindTitled(display, child, title, netWmName);
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return found;
}

int Find(Display* display, const std::string& title, long timeoutMs) {
    Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Window window = FindTitled(display, DefaultRootWindow(display), title, netWmName);
        if (window != 0) {
            std::printf("0x%lx\n", static_cast<unsigned long>(window));
            return 0;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return Fail("no mapped window titled \"" + title + "\"");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int Info(Display* display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) {
        return Fail("no such window");
    }
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    std::printf("wm_name=%s\n", TextProperty(display, window, XA_WM_NAME).c_str());
    std::printf("net_wm_name=%s\n",
                TextProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False)).c_str());
    std::printf("geometry=%d %d %d %d\n", x, y, attributes.width, attributes.height);
    std::printf("viewable=%d\n", attributes.map_state == IsViewable ? 1 : 0);
    return 0;
}

int Capture(Display* display, Window window, const char* path) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) {
        return Fail("no such window");
    }
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    XSync(display, False);
    if (image == nullptr) {
        return Fail("cannot read the window (is all of it on the screen?)");
    }
    std::vector<unsigned char> rgb;
    rgb.reserve(static_cast<std::size_t>(image->width) * image->height * 3);
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            rgb.push_back(static_cast<unsigned char>((pixel & image->red_mask) >> 16));
            rgb.push_back(static_cast<unsigned char>((pixel & image->green_mask) >> 8));
            rgb.push_back(static_cast<unsigned char>(pixel & image->blue_mask));
        }
    }
    int width = image->width;
    int height = image->height;
    XDestroyImage(image);
    std::string temporary = std::string(path) + ".part";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return Fail(std::string("cannot write ") + path);
    }
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    bool written = std::fwrite(rgb.data(), 1, rgb.size(), file) == rgb.size();
    written = std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path) != 0) {
        std::remove(temporary.c_str());
        return Fail(std::string("cannot write ") + path);
    }
    return 0;
}

int Close(Display* display, Window window) {
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    if (!XSendEvent(display, window, False, NoEventMask, &event)) {
        return Fail("cannot send WM_DELETE_WINDOW");
    }
    XSync(display, False);
    return protocolError ? Fail("no such window") : 0;
}

int Primary(Display* display, int width, int height) {
    Window root = DefaultRootWindow(display);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
    if (resources == nullptr || resources->noutput < 1 || resources->ncrtc < 1) {
        return Fail("no RandR output to change");
    }
    std::string name = std::to_string(width) + "x" + std::to_string(height) + "-probe";
    XRRModeInfo mode = {};
    mode.width = static_cast<unsigned>(width);
    mode.height = static_cast<unsigned>(height);
    mode.hTotal = mode.width;
    mode.vTotal = mode.height;
    mode.dotClock = static_cast<unsigned long>(width) * height * 60;
    mode.name = &name[0];
    mode.nameLength = static_cast<unsigned>(name.size());
    RRMode id = XRRCreateMode(display, root, &mode);
    RROutput output = resources->outputs[0];
    XRRAddOutputMode(display, output, id);
    Status status = XRRSetCrtcConfig(display, resources, resources->crtcs[0], CurrentTime, 0, 0, id,
                                     RR_Rotate_0, &output, 1);
    XRRSetOutputPrimary(display, root, output);
    XSync(display, False);
    XRRFreeScreenResources(resources);
    if (status != RRSetConfigSuccess || protocolError) {
        return Fail("the X server refused the mode");
    }
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: x11_probe find TITLE TIMEOUT_MS | info WINDOW | capture WINDOW FILE | "
                 "close WINDOW | primary WIDTH HEIGHT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    std::string command = argv[1];
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return Fail("cannot open the display");
    }
    XSetErrorHandler(OnError);
    int status = 0;
    Window window = 0;
    if (command == "find" && argc == 4) {
        status = Find(display, argv[2], std::atol(argv[3]));
    } else if (command == "info" && argc == 3 && ParseWindow(argv[2], &window)) {
        status = Info(display, window);
    } else if (command == "capture" && argc == 4 && ParseWindow(argv[2], &window)) {
        status = Capture(display, window, argv[3]);
    } else if (command == "close" && argc == 3 && ParseWindow(argv[2], &window)) {
        status = Close(display, window);
    } else if (command == "primary" && argc == 4 && std::atoi(argv[2]) > 0 &&
               std::atoi(argv[3]) > 0) {
        status = Primary(display, std::atoi(argv[2]), std::atoi(argv[3]));
    } else {
        status = Usage();
    }
    XCloseDisplay(display);
    return status;
}
