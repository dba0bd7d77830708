// x11_storm: a storm of what other X clients and a window manager can do to
// a window, as fast as the X server takes it.
//
//   x11_storm WINDOW COUNT SEED MAX_WIDTH MAX_HEIGHT
//   x11_storm --forge-destroy WINDOW
//
// COUNT times, chosen by a generator seeded with SEED: a move, a resize or
// both (sizes up to MAX_WIDTH x MAX_HEIGHT, positions partly off the
// screen); an exposure (XClearArea), or a real one made by mapping and
// unmapping a window over it; a synthetic ConfigureNotify, Expose or
// KeyPress of arbitrary geometry and key; a WM_PROTOCOLS message other than
// WM_DELETE_WINDOW. Then it waits until the server has handled everything
// and prints how many of each it sent, as "key=value" lines.
//
// With --forge-destroy it only sends the window a DestroyNotify for itself,
// as any client can, though the window is not destroyed.
//
// Exit status: 0 done, 1 failed (reason on stderr), 2 bad usage.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "x11_storm: %s\n", message.c_str());
    return 1;
}

// A window that goes away in the middle of the storm is reported, not fatal.
int protocolErrors = 0;
int OnError(Display*, XErrorEvent*) {
    ++protocolErrors;
    return 0;
}

struct Counts {
    long moves = 0;
    long resizes = 0;
    long exposures = 0;
    long covers = 0;
    long synthetic = 0;
    long keys = 0;
    long messages = 0;
};

}  // namespace

int ForgeDestroy(Window window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return Fail("cannot open the display");
    }
    XEvent event = {};
    event.xdestroywindow.type = DestroyNotify;
    event.xdestroywindow.event = window;
    event.xdestroywindow.window = window;
    const Status sent = XSendEvent(display, window, False, StructureNotifyMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent != 0 ? 0 : Fail("XSendEvent failed");
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--forge-destroy") == 0) {
        const Window window = static_cast<Window>(std::strtoul(argv[2], nullptr, 0));
        return window != 0 ? ForgeDestroy(window) : 2;
    }
    if (argc != 6) {
        std::fprintf(stderr, "usage: x11_storm WINDOW COUNT SEED MAX_WIDTH MAX_HEIGHT\n");
        return 2;
    }
    const Window window = static_cast<Window>(std::strtoul(argv[1], nullptr, 0));
    const long count = std::strtol(argv[2], nullptr, 10);
    const unsigned seed = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    const int maxWidth = std::atoi(argv[4]);
    const int maxHeight = std::atoi(argv[5]);
    if (window == 0 || count < 0 || maxWidth < 1 || maxHeight < 1) {
        std::fprintf(stderr, "usage: x11_storm WINDOW COUNT SEED MAX_WIDTH MAX_HEIGHT\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return Fail("cannot open the display");
    }
    XSetErrorHandler(OnError);
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
    Counts counts;
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
    XCloseDisplay(display);
    return 0;
}
