// Windows: each Win32 window is one top-level X window whose whole area is
// the client area, with the window-manager hints that make it an ordinary
// application window, and the events about it. The X window has no
// background, so nothing but our pixels is ever drawn into it, and
// north-west bit gravity keeps its contents in place across resizes.
#include <X11/Xatom.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/backends/x11/x11_display.h"

namespace platform {
namespace x11 {

namespace {

// X window sizes and positions are 16-bit.
const int kMaxSide = 32767;
// Asking the desktop's window manager not to make the window larger than
// the window manager keeps pixels for keeps every visible pixel backed.
const int kMaxClientSide = kMaxSurfaceSide;

int ClampCoordinate(long value) {
    return static_cast<int>(
        std::clamp(value, static_cast<long>(-kMaxSide - 1), static_cast<long>(kMaxSide)));
}

unsigned ClampSide(long value) {
    return static_cast<unsigned>(std::clamp(value, 1L, static_cast<long>(kMaxSide)));
}

}  // namespace

bool X11Backend::CreateNativeWindow(WindowId id, const char* className, const char* title,
                                    const RECT& rect) {
    if (Process().lost || Process().refused || windows_.count(id) != 0) {
        return false;
    }
    XSetWindowAttributes attributes = {};
    attributes.background_pixmap = None;
    attributes.border_pixel = 0;
    attributes.bit_gravity = NorthWestGravity;
    attributes.colormap = colormap_;
    attributes.event_mask = ExposureMask | StructureNotifyMask | KeyPressMask;
    unsigned long mask = CWBackPixmap | CWBorderPixel | CWBitGravity | CWColormap | CWEventMask;
    int x = ClampCoordinate(rect.left);
    int y = ClampCoordinate(rect.top);
    unsigned width = ClampSide(static_cast<long>(rect.right) - rect.left);
    unsigned height = ClampSide(static_cast<long>(rect.bottom) - rect.top);
    // An error in any of the requests that make the window means the
    // window will never be. XCreateWindow only queues its request, so the
    // range can open after it, from that request on, with the window's id.
    const unsigned long first = NextRequest(display_);
    Window xid = XCreateWindow(display_, root_, x, y, width, height, 0, depth_, InputOutput,
                               visual_, mask, &attributes);
    if (xid == 0) {
        return false;
    }
    ExpectedErrorRange making(display_, ExpectedErrors::kWindowRefused, xid, first);

    // The caption, both as ICCCM's WM_NAME and as EWMH's UTF-8 name.
    XStoreName(display_, xid, title);
    XChangeProperty(display_, xid, netWmName_, utf8String_, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title),
                    static_cast<int>(std::strlen(title)));
    XClassHint classHint = {};
    classHint.res_name = const_cast<char*>(program_.c_str());
    classHint.res_class = const_cast<char*>(className);
    XSetClassHint(display_, xid, &classHint);
    // The close button becomes a WM_DELETE_WINDOW message, not a kill.
    // (XSetWMProtocols would intern WM_PROTOCOLS again, a round trip.)
    XChangeProperty(display_, xid, wmProtocols_, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&wmDeleteWindow_), 1);
    XSizeHints* sizeHints = XAllocSizeHints();
    if (sizeHints != nullptr) {
        sizeHints->flags = PPosition | PSize | PMaxSize;
        sizeHints->max_width = kMaxClientSide;
        sizeHints->max_height = kMaxClientSide;
        sizeHints->x = x;
        sizeHints->y = y;
        sizeHints->width = static_cast<int>(width);
        sizeHints->height = static_cast<int>(height);
        XSetWMNormalHints(display_, xid, sizeHints);
        XFree(sizeHints);
    }
    SetInitialState(xid, NormalState);
    SetClientIdentity(xid);

    NativeWindow window;
    window.xid = xid;
    window.gc = XCreateGC(display_, xid, 0, nullptr);
    if (window.gc == nullptr) {  // Xlib out of memory, before asking
        XDestroyWindow(display_, xid);
        StopExpecting(ExpectedErrors::kWindowRefused, xid);
        return false;
    }
    window.parent = root_;
    window.rect = RECT{x, y, x + static_cast<int>(width), y + static_cast<int>(height)};
    windows_[id] = window;
    return true;
}

void X11Backend::DestroyNativeWindow(WindowId id) {
    auto found = windows_.find(id);
    if (found == windows_.end()) {
        return;
    }
    ReleaseWindow(found->second);
    if (!Process().lost) {
        XDestroyWindow(display_, found->second.xid);
    }
    windows_.erase(found);
}

void X11Backend::ShowNativeWindow(WindowId id, WindowShow show) {
    auto found = windows_.find(id);
    if (found == windows_.end() || Process().lost) {
        return;
    }
    NativeWindow& window = found->second;
    WindowShow before = window.show;
    window.show = show;
    switch (show) {
        case WindowShow::kHidden:
            if (window.mapped) {
                XWithdrawWindow(display_, window.xid, screen_);
                window.mapped = false;
            }
            window.exposed = false;
            break;
        case WindowShow::kNormal:
            if (before == WindowShow::kMaximized) {
                SetMaximized(window, false);
            }
            SetInitialState(window.xid, NormalState);
            // Mapping again also brings an iconified window back.
            XMapRaised(display_, window.xid);
            window.mapped = true;
            break;
        case WindowShow::kMinimized:
            if (window.mapped) {
                XIconifyWindow(display_, window.xid, screen_);
            } else {
                SetInitialState(window.xid, IconicState);
                XMapWindow(display_, window.xid);
                window.mapped = true;
            }
            break;
        case WindowShow::kMaximized:
            SetMaximized(window, true);
            SetInitialState(window.xid, NormalState);
            XMapRaised(display_, window.xid);
            window.mapped = true;
            break;
    }
    // The server maps the window while the program paints.
    XFlush(display_);
}

void X11Backend::SetInitialState(Window xid, int state) {
    XWMHints* hints = XAllocWMHints();
    if (hints == nullptr) {
        return;
    }
    hints->flags = InputHint | StateHint;
    hints->input = True;
    hints->initial_state = state;
    XSetWMHints(display_, xid, hints);
    XFree(hints);
}

// Who runs the window: the host (WM_CLIENT_MACHINE) and the process
// (_NET_WM_PID), so that a desktop can offer to end a program that stops
// answering. The pid means something only beside the host's name, so
// without a host name neither is set.
void X11Backend::SetClientIdentity(Window xid) {
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) != 0 || host[0] == '\0') {
        return;
    }
    char* names[] = {host};
    XTextProperty machine = {};
    if (XStringListToTextProperty(names, 1, &machine) == 0) {
        return;
    }
    XSetWMClientMachine(display_, xid, &machine);
    XFree(machine.value);
    unsigned long pid = static_cast<unsigned long>(getpid());
    XChangeProperty(display_, xid, netWmPid_, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
}

// EWMH maximisation: a property before mapping, a request to the window
// manager afterwards. Without a window manager nothing changes.
void X11Backend::SetMaximized(NativeWindow& window, bool maximized) {
    Atom states[2] = {maximizedVert_, maximizedHorz_};
    if (!window.mapped) {
        if (maximized) {
            XChangeProperty(display_, window.xid, netWmState_, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(states), 2);
        } else {
            XDeleteProperty(display_, window.xid, netWmState_);
        }
        return;
    }
    XEvent request = {};
    request.xclient.type = ClientMessage;
    request.xclient.window = window.xid;
    request.xclient.message_type = netWmState_;
    request.xclient.format = 32;
    request.xclient.data.l[0] = maximized ? 1 : 0;  // _NET_WM_STATE_ADD / _REMOVE
    request.xclient.data.l[1] = static_cast<long>(maximizedVert_);
    request.xclient.data.l[2] = static_cast<long>(maximizedHorz_);
    request.xclient.data.l[3] = 1;  // from an application
    XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &request);
}

NativeWindow* X11Backend::FindByXid(Window xid, WindowId* id) {
    for (auto& entry : windows_) {
        if (entry.second.xid == xid) {
            *id = entry.first;
            return &entry.second;
        }
    }
    return nullptr;
}

// Frees what the client keeps for a window going away: its input
// context and GC, and the record of its creating requests.
void X11Backend::ReleaseWindow(NativeWindow& window) {
    if (window.ic != nullptr) {
        XDestroyIC(window.ic);
        window.ic = nullptr;
    }
    XFreeGC(display_, window.gc);
    StopExpecting(ExpectedErrors::kWindowRefused, window.xid);
}

bool X11Backend::WindowEvent(XEvent& xevent, WindowId id, NativeWindow& window,
                             BackendEvent* event) {
    switch (xevent.type) {
        case Expose: {
            const XExposeEvent& e = xevent.xexpose;
            window.exposed = true;
            event->type = BackendEvent::kExpose;
            event->rect = RECT{e.x, e.y, e.x + e.width, e.y + e.height};
            return true;
        }
        case ConfigureNotify: {
            const XConfigureEvent& e = xevent.xconfigure;
            int x = e.x;
            int y = e.y;
            // Real events from under a window manager's frame are
            // relative to the frame; synthetic ones and those of
            // undecorated windows are already on the root.
            if (!e.send_event && window.parent != root_) {
                Window child = 0;
                XTranslateCoordinates(display_, window.xid, root_, 0, 0, &x, &y, &child);
            }
            RECT rect = {x, y, x + e.width, y + e.height};
            if (std::memcmp(&rect, &window.rect, sizeof(rect)) == 0) {
                return false;
            }
            window.rect = rect;
            event->type = BackendEvent::kConfigure;
            event->rect = rect;
            return true;
        }
        case ReparentNotify:
            window.parent = xevent.xreparent.parent;
            return false;
        case UnmapNotify:
            // Only the server's own report: a forged one would stop the
            // window being drawn.
            if (!xevent.xany.send_event) {
                window.exposed = false;
            }
            return false;
        case ClientMessage: {
            const XClientMessageEvent& e = xevent.xclient;
            if (e.message_type == wmProtocols_ && e.format == 32 &&
                static_cast<Atom>(e.data.l[0]) == wmDeleteWindow_) {
                event->type = BackendEvent::kClose;
                return true;
            }
            return false;
        }
        case DestroyNotify:
            // Our own destroys forget the window first, so this one came
            // from elsewhere. Only the server's own report counts: any
            // client can send a DestroyNotify (XSendEvent), which would
            // end the program while its window stays.
            if (xevent.xdestroywindow.window != window.xid || xevent.xany.send_event) {
                return false;
            }
            ReleaseWindow(window);
            windows_.erase(id);
            event->type = BackendEvent::kDestroyed;
            return true;
    }
    return false;
}

}  // namespace x11
}  // namespace platform
