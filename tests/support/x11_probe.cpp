// x11_probe: what the tests ask of an X server, as a user and a window
// manager would: find a window by its title, look at it, photograph it and
// ask it to close, or storm it. The end-to-end, conformance and hostile tests
// share it.
//
// x11_probe COMMAND ARGS..., the commands:
//   find TITLE TIMEOUT_MS: waits for a mapped window titled TITLE and prints its id in hex.
//   info WINDOW: prints wm_name, net_wm_name, the client area on the root (x y width height),
//     whether it is viewable, its parent (the root, or a window manager's frame), the frame
//     extents (left right top bottom, from _NET_FRAME_EXTENTS), net_wm_pid, wm_client_machine.
//   cover WINDOW HOLD_MS [X Y W H]: maps a window of another colour over WINDOW's client area
//     (or its part at X, Y of size WxH), keeps it there HOLD_MS and removes it again, leaving
//     WINDOW to repaint what it exposes.
//   capture WINDOW FILE: writes the window's pixels as a PNG if FILE ends in .png, else as a
//     binary PPM (the window must lie on the screen).
//   close WINDOW: sends WM_DELETE_WINDOW, as a window manager's close button does.
//   protocols WINDOW: prints the atoms the window lists in WM_PROTOCOLS, one a line (a window
//     manager closes a window through WM_DELETE_WINDOW only if it is listed).
//   exists WINDOW: exits 0 if the window still exists, 1 if not, saying nothing.
//   primary WIDTH HEIGHT: shows a WIDTHxHEIGHT mode on the first RandR output and makes it the
//     primary one, the X screen keeping its size.
//   keysyms NAME...: binds each keysym the keyboard map lacks to a free keycode, for good, so
//     that typing it remaps nothing while the program reads it.
//   burst WINDOW COUNT: queues COUNT moves and resizes of the window and COUNT key presses at
//     it (sent events), without waiting for the program to take any.
//   storm WINDOW COUNT SEED MAX_WIDTH MAX_HEIGHT: COUNT moves, resizes (up to MAX_WIDTH x
//     MAX_HEIGHT), exposures, covers, sent events and WM_PROTOCOLS messages (no
//     WM_DELETE_WINDOW) chosen from SEED, as other clients and a window manager might; once
//     the server has handled them, prints how many of each it sent ("key=value" lines).
//   forge-destroy WINDOW: sends the window a DestroyNotify for itself, as any client can.
//
// Exit status: 0 done, 1 failed (reason on stderr), 2 bad usage.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/deadline.h"
#include "tests/support/x11_delete_window.h"
#include "tools/png_file.h"
#include "tools/whole_file.h"

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
int protocolErrors = 0;
int OnError(Display*, XErrorEvent*) {
    protocolError = true;
    ++protocolErrors;
    return 0;
}

// A property's items: 8-bit ones as text, 32-bit CARDINALs as longs (as
// Xlib hands them over); none when it is missing or of another kind.
struct Property {
    std::string text;
    std::vector<long> cardinals;
};

Property ReadProperty(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    Property read;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, AnyPropertyType, &type,
                           &format, &count, &remaining, &data) != Success ||
        data == nullptr) {
        return read;
    }
    if (format == 8) {
        read.text.assign(reinterpret_cast<char*>(data), count);
    } else if (type == XA_CARDINAL && format == 32) {
        const long* items = reinterpret_cast<const long*>(data);
        read.cardinals.assign(items, items + count);
    }
    XFree(data);
    return read;
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
        if ((ReadProperty(display, child, XA_WM_NAME).text == title ||
             ReadProperty(display, child, netWmName).text == title) &&
            Mapped(display, child)) {
            found = child;
        } else {
            found = FindTitled(display, child, title, netWmName);
        }
    }
    XFree(children);
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

// The window's attributes and its top-left corner in root coordinates;
// false if there is no such window.
bool RootGeometry(Display* display, Window window, XWindowAttributes* attributes, int* x, int* y) {
    if (!XGetWindowAttributes(display, window, attributes)) {
        return false;
    }
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, x, y, &child);
    return true;
}

int Info(Display* display, Window window) {
    XWindowAttributes attributes;
    int x = 0;
    int y = 0;
    if (!RootGeometry(display, window, &attributes, &x, &y)) {
        return Fail("no such window");
    }
    std::printf("wm_name=%s\n", ReadProperty(display, window, XA_WM_NAME).text.c_str());
    std::printf(
        "net_wm_name=%s\n",
        ReadProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False)).text.c_str());
    std::printf("geometry=%d %d %d %d\n", x, y, attributes.width, attributes.height);
    std::printf("viewable=%d\n", attributes.map_state == IsViewable ? 1 : 0);
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count)) {
        XFree(children);
    }
    std::printf("parent=%s\n", parent == root ? "root" : "frame");
    std::vector<long> extents =
        ReadProperty(display, window, XInternAtom(display, "_NET_FRAME_EXTENTS", False)).cardinals;
    if (extents.size() == 4) {
        std::printf("frame_extents=%ld %ld %ld %ld\n", extents[0], extents[1], extents[2],
                    extents[3]);
    }
    std::vector<long> pid =
        ReadProperty(display, window, XInternAtom(display, "_NET_WM_PID", False)).cardinals;
    std::printf("net_wm_pid=%ld\n", pid.size() == 1 ? pid[0] : -1L);
    std::printf("wm_client_machine=%s\n",
                ReadProperty(display, window, XA_WM_CLIENT_MACHINE).text.c_str());
    return 0;
}

// Covers the window's client area, or the part `area` (x, y, width,
// height; all zero for the whole) of it, with an override-redirect window of
// a colour the figure never uses, waits until the server has drawn it, holds
// it, and removes it.
int Cover(Display* display, Window window, long holdMs, const long* area) {
    XWindowAttributes attributes;
    int x = 0;
    int y = 0;
    if (!RootGeometry(display, window, &attributes, &x, &y)) {
        return Fail("no such window");
    }
    if (area[2] > 0 && area[3] > 0) {
        x += static_cast<int>(area[0]);
        y += static_cast<int>(area[1]);
        attributes.width = static_cast<int>(area[2]);
        attributes.height = static_cast<int>(area[3]);
    }
    Window root = DefaultRootWindow(display);
    XSetWindowAttributes cover = {};
    cover.override_redirect = True;
    cover.background_pixel = 0x00FF00 & attributes.visual->green_mask;
    cover.event_mask = ExposureMask;
    Window xid =
        XCreateWindow(display, root, x, y, static_cast<unsigned>(attributes.width),
                      static_cast<unsigned>(attributes.height), 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &cover);
    XMapRaised(display, xid);
    // The first Expose of the cover: the server has mapped and filled it.
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(OSTREVANE_TEST_DEADLINE_SECONDS);
    XEvent event;
    while (!XCheckTypedWindowEvent(display, xid, Expose, &event)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            XDestroyWindow(display, xid);
            XSync(display, False);
            return Fail("the cover window was never exposed");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    XDestroyWindow(display, xid);
    XSync(display, False);
    return protocolError ? Fail("the X server refused the cover window") : 0;
}

// Where a colour mask's channel lies in a pixel, to turn a pixel of any
// true-colour visual into an 8-bit channel.
class ChannelShape {
public:
    explicit ChannelShape(unsigned long mask)
        : mask_(mask), shift_(mask != 0 ? __builtin_ctzl(mask) : 0), top_(mask >> shift_) {}
    std::uint32_t Of(unsigned long pixel) const {
        if (top_ == 0) {
            return 0;
        }
        unsigned long value = (pixel & mask_) >> shift_;
        return static_cast<std::uint32_t>((value * 255 + top_ / 2) / top_);
    }

private:
    unsigned long mask_;
    int shift_;
    unsigned long top_;  // the channel's largest value (its mask is one run of bits)
};

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Writes 0x00RRGGBB pixels as a binary PPM, as the render tool writes its
// files: whole or not at all, through a temporary file made exclusively.
bool WritePpmFile(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
                  int height) {
    std::vector<unsigned char> rgb;
    rgb.reserve(pixels.size() * 3);
    for (std::uint32_t pixel : pixels) {
        rgb.push_back(static_cast<unsigned char>(pixel >> 16));
        rgb.push_back(static_cast<unsigned char>(pixel >> 8));
        rgb.push_back(static_cast<unsigned char>(pixel));
    }
    OutputFile output;
    std::string error;
    if (!output.Open(path, &error)) {
        return false;
    }
    std::fprintf(output.stream(), "P6\n%d %d\n255\n", width, height);
    return std::fwrite(rgb.data(), 1, rgb.size(), output.stream()) == rgb.size() &&
           output.Commit(&error);
}

int Capture(Display* display, Window window, const std::string& path) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) {
        return Fail("no such window");
    }
    if (attributes.visual->c_class != TrueColor && attributes.visual->c_class != DirectColor) {
        return Fail("the window has no true-colour visual");
    }
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    XSync(display, False);
    if (image == nullptr) {
        return Fail("cannot read the window (is all of it on the screen?)");
    }
    int width = image->width;
    int height = image->height;
    ChannelShape red(image->red_mask);
    ChannelShape green(image->green_mask);
    ChannelShape blue(image->blue_mask);
    std::vector<std::uint32_t> pixels;
    pixels.reserve(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            pixels.push_back(red.Of(pixel) << 16 | green.Of(pixel) << 8 | blue.Of(pixel));
        }
    }
    XDestroyImage(image);
    if (EndsWith(path, ".png")) {
        std::string error;
        if (!WritePngFile(path, pixels, width, height, &error)) {
            return Fail("cannot write " + path + ": " + error);
        }
    } else if (!WritePpmFile(path, pixels, width, height)) {
        return Fail("cannot write " + path);
    }
    return 0;
}

int Close(Display* display, Window window) {
    if (!SendDeleteWindow(display, window)) {
        return Fail("cannot send WM_DELETE_WINDOW");
    }
    XSync(display, False);
    return protocolError ? Fail("no such window") : 0;
}

int Protocols(Display* display, Window window) {
    Atom* listed = nullptr;
    int count = 0;
    // Without WM_PROTOCOLS nothing is listed; without the window the error
    // says so. (XFree takes null.)
    if (XGetWMProtocols(display, window, &listed, &count) && !protocolError) {
        for (int i = 0; i < count; ++i) {
            char* name = XGetAtomName(display, listed[i]);
            std::printf("%s\n", name != nullptr ? name : "?");
            XFree(name);
        }
    }
    XFree(listed);
    return protocolError ? Fail("no such window") : 0;
}

int Exists(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && !protocolError ? 0 : 1;
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

int Keysyms(Display* display, char** names, int count) {
    int first = 0;
    int last = 0;
    XDisplayKeycodes(display, &first, &last);
    int perCode = 0;
    KeySym* map =
        XGetKeyboardMapping(display, static_cast<KeyCode>(first), last - first + 1, &perCode);
    if (map == nullptr) {
        return Fail("cannot read the keyboard map");
    }
    int code = last;
    int status = 0;
    for (int i = 0; i < count && status == 0; ++i) {
        KeySym keysym = XStringToKeysym(names[i]);
        if (keysym == NoSymbol) {
            status = Fail(std::string("no keysym ") + names[i]);
            break;
        }
        if (XKeysymToKeycode(display, keysym) != 0) {
            continue;
        }
        // A free keycode: one with no keysym at all, from the top down.
        auto unused = [&](int c) {
            const KeySym* syms = map + (c - first) * perCode;
            return std::all_of(syms, syms + perCode, [](KeySym k) { return k == NoSymbol; });
        };
        while (code >= first && !unused(code)) {
            --code;
        }
        if (code < first) {
            status = Fail("no free keycode left");
            break;
        }
        KeySym both[2] = {keysym, keysym};
        XChangeKeyboardMapping(display, code, 2, both, 1);
        map[(code - first) * perCode] = keysym;
        XSync(display, False);
    }
    XFree(map);
    return status != 0 ? status : (protocolError ? Fail("the X server refused a keycode") : 0);
}

int Burst(Display* display, Window window, long count) {
    XEvent key = {};
    key.xkey.type = KeyPress;
    key.xkey.display = display;
    key.xkey.window = window;
    key.xkey.root = DefaultRootWindow(display);
    key.xkey.keycode = XKeysymToKeycode(display, XK_a);
    key.xkey.same_screen = True;
    for (long i = 0; i < count; ++i) {
        XMoveResizeWindow(display, window, static_cast<int>(i % 50), static_cast<int>(i % 30),
                          static_cast<unsigned>(100 + i % 200),
                          static_cast<unsigned>(80 + i % 150));
        XSendEvent(display, window, False, KeyPressMask, &key);
    }
    XSync(display, False);
    return protocolError ? Fail("no such window") : 0;
}

int Storm(Display* display, Window window, long count, unsigned seed, int maxWidth, int maxHeight) {
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const int screenWidth = DisplayWidth(display, screen);
    const int screenHeight = DisplayHeight(display, screen);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);

    // The cover: an undecorated window put over the target and taken away
    // again, which leaves the covered part for the target to paint again.
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.background_pixel = 0x00FF00;
    const Window cover =
        XCreateWindow(display, root, 0, 0, 1, 1, 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel, &attributes);

    std::mt19937 random(seed);
    auto between = [&random](long low, long high) {
        return static_cast<int>(std::uniform_int_distribution<long>(low, high)(random));
    };
    struct {
        long moves = 0, resizes = 0, exposures = 0, covers = 0, synthetic = 0, keys = 0,
             messages = 0;
    } counts;
    for (long i = 0; i < count; ++i) {
        switch (between(0, 8)) {
            case 0:
                XMoveWindow(display, window, between(-200, screenWidth),
                            between(-200, screenHeight));
                ++counts.moves;
                break;
            case 1:
                XResizeWindow(display, window, static_cast<unsigned>(between(1, maxWidth)),
                              static_cast<unsigned>(between(1, maxHeight)));
                ++counts.resizes;
                break;
            case 2:
                XMoveResizeWindow(display, window, between(-200, screenWidth),
                                  between(-200, screenHeight),
                                  static_cast<unsigned>(between(1, maxWidth)),
                                  static_cast<unsigned>(between(1, maxHeight)));
                ++counts.moves;
                ++counts.resizes;
                break;
            case 3:
                XClearArea(display, window, between(-100, maxWidth), between(-100, maxHeight),
                           static_cast<unsigned>(between(0, maxWidth)),
                           static_cast<unsigned>(between(0, maxHeight)), True);
                ++counts.exposures;
                break;
            case 4: {
                XWindowAttributes where;
                if (XGetWindowAttributes(display, window, &where)) {
                    XMoveResizeWindow(display, cover, where.x + between(-50, where.width),
                                      where.y + between(-50, where.height),
                                      static_cast<unsigned>(between(1, maxWidth / 2 + 1)),
                                      static_cast<unsigned>(between(1, maxHeight / 2 + 1)));
                    XMapRaised(display, cover);
                    XUnmapWindow(display, cover);
                    ++counts.covers;
                }
                break;
            }
            case 5: {
                // What a window manager claims about the window, true or not.
                XEvent event = {};
                event.xconfigure.type = ConfigureNotify;
                event.xconfigure.event = window;
                event.xconfigure.window = window;
                event.xconfigure.x = between(-32768, 32767);
                event.xconfigure.y = between(-32768, 32767);
                event.xconfigure.width = between(1, maxWidth);
                event.xconfigure.height = between(1, maxHeight);
                XSendEvent(display, window, False, StructureNotifyMask, &event);
                ++counts.synthetic;
                break;
            }
            case 6: {
                XEvent event = {};
                event.xexpose.type = Expose;
                event.xexpose.window = window;
                event.xexpose.x = between(0, 65535);
                event.xexpose.y = between(0, 65535);
                event.xexpose.width = between(0, 65535);
                event.xexpose.height = between(0, 65535);
                XSendEvent(display, window, False, ExposureMask, &event);
                ++counts.synthetic;
                break;
            }
            case 7: {
                XEvent event = {};
                event.xkey.type = KeyPress;
                event.xkey.window = window;
                event.xkey.root = root;
                event.xkey.keycode = static_cast<unsigned>(between(8, 255));
                event.xkey.state = static_cast<unsigned>(between(0, 0xFF));
                event.xkey.same_screen = True;
                XSendEvent(display, window, False, KeyPressMask, &event);
                ++counts.keys;
                break;
            }
            case 8: {
                XEvent event = {};
                event.xclient.type = ClientMessage;
                event.xclient.window = window;
                event.xclient.message_type =
                    between(0, 3) == 0 ? static_cast<Atom>(between(1, 400)) : protocols;
                event.xclient.format = between(0, 3) == 0 ? 8 : 32;
                for (int k = 0; k < 5; ++k) {
                    event.xclient.data.l[k] = between(0, 0x7FFFFFFF);
                }
                if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
                    event.xclient.data.l[0] = 0;
                }
                XSendEvent(display, window, False, NoEventMask, &event);
                ++counts.messages;
                break;
            }
        }
        if (i % 64 == 63) {
            // Keeps the storm from running far ahead of the server.
            XSync(display, False);
        }
    }
    XDestroyWindow(display, cover);
    XSync(display, False);
    std::printf(
        "moves=%ld\nresizes=%ld\nexposures=%ld\ncovers=%ld\nsynthetic=%ld\nkeys=%ld\n"
        "messages=%ld\nprotocol_errors=%d\n",
        counts.moves, counts.resizes, counts.exposures, counts.covers, counts.synthetic,
        counts.keys, counts.messages, protocolErrors);
    return 0;
}

int ForgeDestroy(Display* display, Window window) {
    XEvent event = {};
    event.xdestroywindow.type = DestroyNotify;
    event.xdestroywindow.event = window;
    event.xdestroywindow.window = window;
    const Status sent = XSendEvent(display, window, False, StructureNotifyMask, &event);
    XSync(display, False);
    return sent != 0 ? 0 : Fail("XSendEvent failed");
}

int Usage() {
    std::fprintf(
        stderr,
        "usage: x11_probe find TITLE TIMEOUT_MS | info WINDOW | cover WINDOW HOLD_MS "
        "[X Y W H] | capture WINDOW FILE | close WINDOW | protocols WINDOW | exists WINDOW "
        "| primary WIDTH HEIGHT | keysyms NAME... | burst WINDOW COUNT | storm WINDOW "
        "COUNT SEED MAX_WIDTH MAX_HEIGHT | forge-destroy WINDOW\n");
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
    } else if (command == "cover" && (argc == 4 || argc == 8) && ParseWindow(argv[2], &window) &&
               std::atol(argv[3]) >= 0) {
        long area[4] = {};
        for (int i = 0; i < argc - 4; ++i) {
            area[i] = std::atol(argv[4 + i]);
        }
        status = Cover(display, window, std::atol(argv[3]), area);
    } else if (command == "capture" && argc == 4 && ParseWindow(argv[2], &window)) {
        status = Capture(display, window, argv[3]);
    } else if (command == "close" && argc == 3 && ParseWindow(argv[2], &window)) {
        status = Close(display, window);
    } else if (command == "protocols" && argc == 3 && ParseWindow(argv[2], &window)) {
        status = Protocols(display, window);
    } else if (command == "exists" && argc == 3 && ParseWindow(argv[2], &window)) {
        status = Exists(display, window);
    } else if (command == "primary" && argc == 4 && std::atoi(argv[2]) > 0 &&
               std::atoi(argv[3]) > 0) {
        status = Primary(display, std::atoi(argv[2]), std::atoi(argv[3]));
    } else if (command == "keysyms") {
        status = Keysyms(display, argv + 2, argc - 2);
    } else if (command == "burst" && argc == 4 && ParseWindow(argv[2], &window) &&
               std::atol(argv[3]) > 0) {
        status = Burst(display, window, std::atol(argv[3]));
    } else if (command == "storm" && argc == 7 && ParseWindow(argv[2], &window) &&
               std::atol(argv[3]) >= 0 && std::atoi(argv[5]) > 0 && std::atoi(argv[6]) > 0) {
        status = Storm(display, window, std::atol(argv[3]),
                       static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)),
                       std::atoi(argv[5]), std::atoi(argv[6]));
    } else if (command == "forge-destroy" && argc == 3 && ParseWindow(argv[2], &window)) {
        status = ForgeDestroy(display, window);
    } else {
        status = Usage();
    }
    XCloseDisplay(display);
    return status;
}
