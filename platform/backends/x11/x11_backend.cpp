// The X11 display.
//
// Each Win32 window is one top-level X window whose whole area is the client
// area: any frame and caption are the X window manager's. Client pixels
// (32-bit 0x00RRGGBB, which matches a 24-bit true-colour visual byte for
// byte) go up in bands of rows. On a local server with MIT-SHM, from the
// second frame on, each band is copied into one small shared-memory segment
// and put with XShmPutImage, so that the pixels never pass through the
// socket; the first frame, and everything when there is no segment (a remote
// display, a server without the extension, a segment the server cannot
// attach) they go with XPutImage from the window manager's own buffer. The X
// window has no background, so nothing but our pixels is ever drawn into
// it, and north-west bit gravity keeps its contents in place across resizes.
#include "platform/backends/x11/x11_backend.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/backends/x11/x11_connection.h"
#include "platform/backends/x11/x11_encode.h"
#include "platform/gdi/surface.h"

namespace platform {
namespace x11 {

namespace {

// Rows of one XPutImage request are kept to about this many bytes.
const int kBandBytes = 256 * 1024;
// The shared-memory segment: the rows of one XShmPutImage. Small, so that
// it adds little to the program's memory, and large enough that a full
// frame takes only a few round trips.
const int kSharedBytes = 1024 * 1024;
// X window sizes and positions are 16-bit.
const int kMaxSide = 32767;
// Asking the desktop's window manager not to make the window larger than
// the window manager keeps pixels for keeps every visible pixel backed.
const int kMaxClientSide = kMaxSurfaceSide;

// The requests that make one of our windows: the window, its properties and
// its GC, sent one after the other, so their serials are one range.
struct CreatingRequests {
    Window xid = 0;
    unsigned long first = 0;
    unsigned long last = 0;
};

// The back end's one piece of process state: what Xlib's error handlers
// report into and need to know. Xlib takes one I/O error handler and one
// protocol error handler for the whole process, with no pointer of ours;
// there is only ever one display open, on one thread, and OpenDisplay
// starts this afresh for it.
struct ProcessState {
    // The program's name and the display's, for the one line of a loss or
    // a refusal.
    std::string program;
    std::string display;
    // The connection is gone: nothing more may be sent on it.
    bool lost = false;
    // MIT-SHM's major opcode once asked for (-1 before, or without the
    // extension), and whether the server failed to attach our segment.
    int shmMajorOpcode = -1;
    bool shmFailed = false;
    // The creating requests of every window we have, and whether the
    // server refused one of them (the line saying so has gone to stderr).
    std::vector<CreatingRequests> creating;
    bool refused = false;
    // The back end is being closed: the program's result is settled, and a
    // loss seen now is not reported.
    bool closing = false;
};
ProcessState state;

// The connection of a display that was lost, which is never closed (see
// ~X11Backend); kept here for the rest of the process.
Display* abandoned = nullptr;

void ReportLoss() {
    if (!state.lost) {
        state.lost = true;
        // After a refusal the program is ending already, with its one line;
        // once the back end closes, it is ending with the result it has.
        if (!state.refused && !state.closing) {
            std::fprintf(stderr, "%s: lost the connection to display \"%s\"\n",
                         state.program.c_str(), state.display.c_str());
        }
    }
}

int OnIoError(Display*) {
    ReportLoss();
#if !OSTREVANE_HAVE_IO_ERROR_EXIT_HANDLER
    // This Xlib cannot carry on after an I/O error: leave cleanly now.
    _exit(1);
#endif
    return 0;
}

#if OSTREVANE_HAVE_IO_ERROR_EXIT_HANDLER
// Returning lets the Xlib call in progress fail instead of exiting; every
// later call on the dead connection returns at once, and the back end
// reports itself broken to the message loop.
void OnIoErrorExit(Display*, void*) {}
#endif

// Says on stderr which request of a window the server refused, and why.
void ReportRefusal(Display* display, const XErrorEvent& error) {
    char number[16];
    std::snprintf(number, sizeof(number), "%d", error.request_code);
    char fallback[32];
    std::snprintf(fallback, sizeof(fallback), "request %d", error.request_code);
    char request[64] = {};
    XGetErrorDatabaseText(display, "XRequest", number, fallback, request, sizeof(request));
    char reason[256] = {};
    XGetErrorText(display, error.error_code, reason, sizeof(reason));
    std::fprintf(stderr, "%s: display \"%s\" refused a window: %s: %s\n", state.program.c_str(),
                 state.display.c_str(), request, reason);
}

// Errors arrive long after their requests (nothing waits for them), and
// are told apart by serial. One for a request that makes one of our windows
// means the window will never be: the program cannot go on. An error in
// MIT-SHM's attach request means the server could not attach the segment:
// pixels then go through the socket. Others are not fatal: the usual one is
// a request for a window another program has just destroyed, which
// DestroyNotify then reports.
const int kShmAttachRequest = 1;  // X_ShmAttach, MIT-SHM's minor opcode
int OnProtocolError(Display* display, XErrorEvent* error) {
    if (state.shmMajorOpcode >= 0 && error->request_code == state.shmMajorOpcode &&
        error->minor_code == kShmAttachRequest) {
        state.shmFailed = true;
        return 0;
    }
    if (state.refused) {
        return 0;
    }
    for (const CreatingRequests& made : state.creating) {
        if (error->serial < made.first || error->serial > made.last) {
            continue;
        }
        // The window itself unknown to a later request: it was made, and
        // another client has destroyed it already.
        if ((error->error_code == BadWindow || error->error_code == BadDrawable) &&
            error->resourceid == made.xid) {
            return 0;
        }
        state.refused = true;
        ReportRefusal(display, *error);
        return 0;
    }
    return 0;
}

// Shared memory only works with a server on this machine: one reached
// through a local socket.
bool IsLocalConnection(Display* display) {
    sockaddr_storage address = {};
    socklen_t length = sizeof(address);
    return getpeername(ConnectionNumber(display), reinterpret_cast<sockaddr*>(&address), &length) ==
               0 &&
           address.ss_family == AF_UNIX;
}

int ClampCoordinate(long value) {
    return static_cast<int>(
        std::clamp(value, static_cast<long>(-kMaxSide - 1), static_cast<long>(kMaxSide)));
}

unsigned ClampSide(long value) {
    return static_cast<unsigned>(std::clamp(value, 1L, static_cast<long>(kMaxSide)));
}

// Xlib's own input method, never an input-method server (whatever
// XMODIFIERS says): it composes dead keys and Compose sequences by the
// table of the user's character set, and hands out text as UTF-8 whatever
// the locale. Xlib takes both from the C library's LC_CTYPE as the method
// opens; the program runs in the "C" locale, so the user's is set for that
// moment only and put back: the program's own locale never changes.
XIM OpenInputMethod(Display* display) {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = current != nullptr ? current : "C";
    if (std::setlocale(LC_CTYPE, "") == nullptr || !XSupportsLocale()) {
        std::setlocale(LC_CTYPE, saved.c_str());
    }
    XIM method = nullptr;
    if (XSupportsLocale() && XSetLocaleModifiers("@im=none") != nullptr) {
        method = XOpenIM(display, nullptr, nullptr, nullptr);
    }
    std::setlocale(LC_CTYPE, saved.c_str());
    return method;
}

// Decodes `length` bytes of UTF-8 into at most `capacity` code points;
// returns how many. Decoding stops at a malformed sequence.
int CodePointsFromUtf8(char* text, std::size_t length, char32_t* chars, int capacity) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    iconv_t converter = iconv_open("UTF-32BE", "UTF-8");
#else
    iconv_t converter = iconv_open("UTF-32LE", "UTF-8");
#endif
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return 0;
    }
    const std::size_t room = static_cast<std::size_t>(capacity) * sizeof(char32_t);
    char* out = reinterpret_cast<char*>(chars);
    std::size_t outLeft = room;
    iconv(converter, &text, &length, &out, &outLeft);
    iconv_close(converter);
    return static_cast<int>((room - outLeft) / sizeof(char32_t));
}

// The characters a key press typed, through the window's input context:
// none while it composes.
int TypedWithInputMethod(XIC ic, XKeyEvent* key, char32_t* chars, int capacity) {
    char text[64];
    std::vector<char> larger;
    char* buffer = text;
    KeySym keysym = 0;
    Status status = XLookupNone;
    int count = Xutf8LookupString(ic, key, text, static_cast<int>(sizeof(text)), &keysym, &status);
    if (status == XBufferOverflow && count > 0) {
        larger.resize(static_cast<std::size_t>(count));
        buffer = larger.data();
        count = Xutf8LookupString(ic, key, buffer, count, &keysym, &status);
    }
    if ((status != XLookupChars && status != XLookupBoth) || count <= 0) {
        return 0;
    }
    return CodePointsFromUtf8(buffer, static_cast<std::size_t>(count), chars, capacity);
}

// Without an input method: Latin-1, whose bytes are their own code points.
int TypedAsLatin1(XKeyEvent* key, char32_t* chars, int capacity) {
    KeySym keysym = 0;
    char text[16];
    int count = XLookupString(key, text, static_cast<int>(sizeof(text)), &keysym, nullptr);
    count = std::clamp(count, 0, capacity);
    for (int i = 0; i < count; ++i) {
        chars[i] = static_cast<unsigned char>(text[i]);
    }
    return count;
}

struct NativeWindow {
    Window xid = 0;
    GC gc = nullptr;
    Window parent = 0;
    RECT rect = {0, 0, 0, 0};  // the client area in screen coordinates
    bool mapped = false;
    // The server has reported the window exposed since it was last mapped.
    // Until then nothing drawn into it would show: an unmapped window keeps
    // no pixels, and its exposure brings a repaint of everything visible.
    bool exposed = false;
    WindowShow show = WindowShow::kHidden;
    // Its input context, made at its first key press (see InputContext).
    XIC ic = nullptr;
};

class X11Backend : public Backend {
public:
    X11Backend(Display* display, Visual* visual, int depth, Colormap colormap,
               const std::string& program)
        : display_(display),
          screen_(DefaultScreen(display)),
          root_(RootWindow(display, DefaultScreen(display))),
          visual_(visual),
          depth_(depth),
          colormap_(colormap),
          program_(program) {
        const char* names[] = {"WM_PROTOCOLS",
                               "WM_DELETE_WINDOW",
                               "_NET_WM_NAME",
                               "UTF8_STRING",
                               "_NET_WM_STATE",
                               "_NET_WM_STATE_MAXIMIZED_VERT",
                               "_NET_WM_STATE_MAXIMIZED_HORZ",
                               "_NET_WM_PID"};
        // Two round trips for all of them and RandR's primary output.
        Atom atoms[8] = {};
        ConnectionFacts facts = QueryConnection(display_, names, 8, atoms);
        if (facts.lost) {
            // Xlib may not be called on this connection any more: the back
            // end is broken from the start, and says so once.
            ReportLoss();
            return;
        }
        wmProtocols_ = atoms[0];
        wmDeleteWindow_ = atoms[1];
        netWmName_ = atoms[2];
        utf8String_ = atoms[3];
        netWmState_ = atoms[4];
        maximizedVert_ = atoms[5];
        maximizedHorz_ = atoms[6];
        netWmPid_ = atoms[7];

        // Without a primary output the screen is the one the connection
        // set-up gave, and RandR is asked to report changes only after the
        // first frame (see SubscribeRandr).
        randrDeferred_ = facts.randr && !facts.randrPrimary;
        if (facts.randrPrimary) {
            SubscribeRandr();
        }
        // The screen size is read once and kept; what changes it (RandR
        // changes, the root window resized) marks it for reading again.
        XSelectInput(display_, root_, StructureNotifyMask);
        ReadScreenSize();

        // Whether the server has MIT-SHM is asked after the first frame.
        shm_ = IsLocalConnection(display_) ? ShmState::kUntried : ShmState::kUnavailable;
    }

    ~X11Backend() override {
        state.closing = true;
        // After a lost connection Xlib sends nothing more; it only frees its
        // own memory.
        for (auto& entry : windows_) {
            ReleaseWindow(entry.second);
            if (!state.lost) {
                XDestroyWindow(display_, entry.second.xid);
            }
        }
        if (colormap_ != DefaultColormap(display_, screen_) && !state.lost) {
            XFreeColormap(display_, colormap_);
        }
        if (inputMethod_ != nullptr) {
            XCloseIM(inputMethod_);
        }
        ReleaseSharedSegment();
        if (state.lost) {
            // A lost display is never closed. When the connection dies
            // during libXext's question for the Generic Event extension's
            // version (asked the first time any extension is used), libXext
            // frees its record of the display but keeps it on its list, and
            // XCloseDisplay's close hooks would walk that list. Only the
            // socket is closed; the rest goes with the process, which ends
            // now.
            close(ConnectionNumber(display_));
            abandoned = display_;
            return;
        }
        XCloseDisplay(display_);
    }

    void GetScreenSize(int* width, int* height) override {
        if (screenStale_ && !state.lost) {
            ReadScreenSize();
        }
        *width = screenWidth_;
        *height = screenHeight_;
    }

    bool CreateNativeWindow(WindowId id, const char* className, const char* title,
                            const RECT& rect) override {
        if (state.lost || state.refused || windows_.count(id) != 0) {
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
        // Recorded first: Xlib may read the server's answers while it
        // sends the next requests.
        state.creating.push_back(CreatingRequests{0, NextRequest(display_), ULONG_MAX});
        Window xid = XCreateWindow(display_, root_, x, y, width, height, 0, depth_, InputOutput,
                                   visual_, mask, &attributes);
        if (xid == 0) {
            state.creating.pop_back();
            return false;
        }
        state.creating.back().xid = xid;

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
            state.creating.pop_back();
            return false;
        }
        window.parent = root_;
        window.rect = RECT{x, y, x + static_cast<int>(width), y + static_cast<int>(height)};
        windows_[id] = window;
        state.creating.back().last = NextRequest(display_) - 1;
        return true;
    }

    void DestroyNativeWindow(WindowId id) override {
        auto found = windows_.find(id);
        if (found == windows_.end()) {
            return;
        }
        ReleaseWindow(found->second);
        if (!state.lost) {
            XDestroyWindow(display_, found->second.xid);
        }
        windows_.erase(found);
    }

    void ShowNativeWindow(WindowId id, WindowShow show) override {
        auto found = windows_.find(id);
        if (found == windows_.end() || state.lost) {
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

    void Present(WindowId id, const Surface& surface, const RECT& area) override {
        auto found = windows_.find(id);
        if (found == windows_.end() || state.lost || surface.pixels == nullptr ||
            !found->second.exposed) {
            return;
        }
        RECT clipped = ClipToSurface(surface, area);
        int left = clipped.left;
        int top = clipped.top;
        int right = clipped.right;
        int bottom = clipped.bottom;
        if (right <= left || bottom <= top) {
            return;
        }
        if (PutShared(found->second, surface, left, top, right, bottom)) {
            return;
        }
        // The image spans whole rows of what the surface shows, which may
        // be a bitmap wider than the window.
        XImage image =
            PixelImage(const_cast<char*>(reinterpret_cast<const char*>(SurfaceRow(surface, 0))),
                       static_cast<int>(SurfaceStride(surface)), surface.height);
        if (!XInitImage(&image)) {
            return;
        }
        // Each band goes out as soon as it is planned, so that the server
        // draws one while the next is read.
        const RECT ink = SurfaceInk(surface);
        int bandRows = std::max(1, kBandBytes / ((right - left) * 4));
        for (int y = top; y < bottom && !state.lost; y += bandRows) {
            PutBand(found->second, surface, &image,
                    RECT{left, y, right, std::min(y + bandRows, bottom)}, ink);
            XFlush(display_);
        }
        if (shm_ == ShmState::kUntried && !state.lost) {
            StartSharedSegment();
        }
        if (randrDeferred_ && !state.lost) {
            SubscribeRandr();
        }
    }

    WaitResult NextEvent(BackendEvent* event, bool wait) override {
        for (;;) {
            if (state.lost || state.refused || ServerHungUp()) {
                return WaitResult::kBroken;
            }
            if (wait && shm_ == ShmState::kAttaching) {
                ConfirmSharedSegment();
                continue;
            }
            // XPending sends whatever output is buffered before it looks.
            while (XPending(display_) > 0 && !state.lost && !state.refused) {
                XEvent xevent;
                XNextEvent(display_, &xevent);
                if (Translate(xevent, event)) {
                    return WaitResult::kEvent;
                }
            }
            if (state.lost || state.refused) {
                return WaitResult::kBroken;
            }
            if (!wait) {
                return WaitResult::kNoEvent;
            }
            pollfd connection = {ConnectionNumber(display_), POLLIN, 0};
            if (poll(&connection, 1, -1) < 0 && errno != EINTR) {
                std::fprintf(stderr, "%s: cannot wait for display \"%s\": %s\n", program_.c_str(),
                             state.display.c_str(), std::strerror(errno));
                return WaitResult::kBroken;
            }
        }
    }

private:
    // Xlib hands out the events it has queued without looking at the
    // connection, and a storm can leave thousands queued: the server's
    // hang-up is looked for directly, so that a lost display ends the
    // program at once, not after the backlog.
    bool ServerHungUp() {
        int fd = ConnectionNumber(display_);
        pollfd connection = {fd, POLLRDHUP, 0};
        if (poll(&connection, 1, 0) <= 0 ||
            (connection.revents & (POLLHUP | POLLRDHUP | POLLERR)) == 0) {
            return false;
        }
        ReportLoss();
        // What the dead server left unread is of no use: drop it, so that
        // Xlib meets the end of the connection at once instead of reading
        // (and complaining about) half-sent events. A request then makes
        // Xlib see the hang-up itself, so that none of its later calls
        // (XCloseDisplay's among them) waits on or reads the connection.
        char scratch[4096];
        for (int i = 0; i < 1024 && recv(fd, scratch, sizeof(scratch), MSG_DONTWAIT) > 0; ++i) {
        }
        XNoOp(display_);
        XFlush(display_);
        return true;
    }

    // The segment is made after the first frame has gone through the
    // socket: attaching it and the first touch of its pages on both sides
    // would hold that frame up longer than sending it does. The attach
    // request goes out with the frame and is confirmed before the program
    // next waits or draws.
    enum class ShmState { kUntried, kAttaching, kReady, kUnavailable };

    // Makes the shared segment and asks the server to attach it, if the
    // server has MIT-SHM.
    void StartSharedSegment() {
        shm_ = ShmState::kUnavailable;
        int shmEvent = 0;
        int shmError = 0;
        // On a connection that has just died, Xlib answers extension queries
        // with whatever its reply buffer held, and libXext then registers
        // event numbers out of range, complaining on stderr: no query once
        // the display is gone.
        if (!XQueryExtension(display_, "MIT-SHM", &state.shmMajorOpcode, &shmEvent, &shmError) ||
            state.lost || !XShmQueryExtension(display_) || state.lost) {
            state.shmMajorOpcode = -1;
            return;
        }
        int id = shmget(IPC_PRIVATE, kSharedBytes, IPC_CREAT | 0600);
        if (id < 0) {
            return;
        }
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return;
        }
        shared_ = XShmSegmentInfo();
        shared_.shmid = id;
        shared_.shmaddr = static_cast<char*>(address);
        shared_.readOnly = True;
        state.shmFailed = false;
        if (!XShmAttach(display_, &shared_)) {
            shmdt(address);
            shmctl(id, IPC_RMID, nullptr);
            shared_ = XShmSegmentInfo();
            return;
        }
        XFlush(display_);
        shm_ = ShmState::kAttaching;
    }

    // The one round trip that tells whether the server could attach the
    // segment; XPutImage from then on if it could not.
    void ConfirmSharedSegment() {
        if (!state.lost) {
            XSync(display_, False);
        }
        // Marked for removal now that both sides have it: it goes when both
        // have detached, even if the program is killed.
        shmctl(shared_.shmid, IPC_RMID, nullptr);
        if (state.shmFailed || state.lost) {
            shmdt(shared_.shmaddr);
            shared_ = XShmSegmentInfo();
            shm_ = ShmState::kUnavailable;
            return;
        }
        shm_ = ShmState::kReady;
    }

    void ReleaseSharedSegment() {
        if (shm_ == ShmState::kAttaching) {
            ConfirmSharedSegment();
        }
        if (shm_ != ShmState::kReady) {
            return;
        }
        if (!state.lost) {
            XShmDetach(display_, &shared_);
        }
        // The server keeps its own attachment until it has read the detach.
        shmdt(shared_.shmaddr);
        shared_ = XShmSegmentInfo();
        shm_ = ShmState::kUnavailable;
    }

    // Puts rows `top` to `bottom` of columns `left` to `right` through the
    // shared segment, a band at a time; false if there is no segment.
    bool PutShared(NativeWindow& window, const Surface& surface, int left, int top, int right,
                   int bottom) {
        if (shm_ == ShmState::kAttaching) {
            ConfirmSharedSegment();
        }
        if (shm_ != ShmState::kReady) {
            return false;
        }
        int width = right - left;
        int bandRows = std::max(1, kSharedBytes / (width * 4));
        XImage image = PixelImage(shared_.shmaddr, width, 0);
        image.obdata = reinterpret_cast<char*>(&shared_);
        for (int y = top; y < bottom && !state.lost; y += bandRows) {
            int rows = std::min(bandRows, bottom - y);
            // The server must have read the previous band before the segment
            // is written again; requests are handled in order, so one round
            // trip is enough.
            if (sharedBusy_) {
                XSync(display_, False);
                sharedBusy_ = false;
                if (state.lost) {
                    break;
                }
            }
            std::uint32_t* band = reinterpret_cast<std::uint32_t*>(shared_.shmaddr);
            for (int row = 0; row < rows; ++row) {
                std::memcpy(band + static_cast<std::size_t>(row) * width,
                            SurfaceRow(surface, y + row) + left,
                            static_cast<std::size_t>(width) * 4);
            }
            image.height = rows;
            if (!XInitImage(&image)) {
                return false;
            }
            XShmPutImage(display_, window.xid, window.gc, &image, 0, 0, left, y,
                         static_cast<unsigned>(width), static_cast<unsigned>(rows), False);
            sharedBusy_ = true;
        }
        return true;
    }

    // Sends a band of rows through the socket: as a fill and rectangles
    // where that costs fewer bytes than its image (x11_encode.h), otherwise
    // as the image. Only the part inside `ink` is read: the rest of the band
    // is black (SurfaceInk), and goes first as one black fill.
    void PutBand(NativeWindow& window, const Surface& surface, XImage* image, const RECT& band,
                 const RECT& ink) {
        const RECT part = {std::max(band.left, ink.left), std::max(band.top, ink.top),
                           std::min(band.right, ink.right), std::min(band.bottom, ink.bottom)};
        const bool whole = part.left == band.left && part.top == band.top &&
                           part.right == band.right && part.bottom == band.bottom;
        if (!whole) {
            XSetForeground(display_, window.gc, 0);
            XFillRectangle(display_, window.xid, window.gc, band.left, band.top,
                           static_cast<unsigned>(band.right - band.left),
                           static_cast<unsigned>(band.bottom - band.top));
            if (part.right <= part.left || part.bottom <= part.top) {
                return;
            }
        }
        const int width = part.right - part.left;
        const int rows = part.bottom - part.top;
        PlanBand(SurfaceRow(surface, part.top) + part.left, SurfaceStride(surface), part.left,
                 part.top, width, rows, &plan_);
        if (!plan_.fills) {
            XPutImage(display_, window.xid, window.gc, image, part.left, part.top, part.left,
                      part.top, static_cast<unsigned>(width), static_cast<unsigned>(rows));
            return;
        }
        static_assert(sizeof(FillRect) == sizeof(XRectangle), "FillRect is XRectangle's layout");
        if (whole || plan_.background != 0) {
            XSetForeground(display_, window.gc, plan_.background);
            XFillRectangle(display_, window.xid, window.gc, part.left, part.top,
                           static_cast<unsigned>(width), static_cast<unsigned>(rows));
        }
        for (const ColourRects& colour : plan_.colours) {
            XSetForeground(display_, window.gc, colour.colour);
            XFillRectangles(display_, window.xid, window.gc,
                            reinterpret_cast<XRectangle*>(plan_.rects.data() + colour.first),
                            static_cast<int>(colour.count));
        }
    }

    // An image of `width` x `height` pixels in the surfaces' format
    // (0x00RRGGBB in 32 bits, rows `width` pixels apart) over `data`.
    XImage PixelImage(char* data, int width, int height) const {
        XImage image = {};
        image.width = width;
        image.height = height;
        image.format = ZPixmap;
        image.data = data;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        image.byte_order = MSBFirst;
        image.bitmap_bit_order = MSBFirst;
#else
        image.byte_order = LSBFirst;
        image.bitmap_bit_order = LSBFirst;
#endif
        image.bitmap_unit = 32;
        image.bitmap_pad = 32;
        image.depth = depth_;
        image.bytes_per_line = width * 4;
        image.bits_per_pixel = 32;
        image.red_mask = 0xFF0000;
        image.green_mask = 0x00FF00;
        image.blue_mask = 0x0000FF;
        return image;
    }

    NativeWindow* FindByXid(Window xid, WindowId* id) {
        for (auto& entry : windows_) {
            if (entry.second.xid == xid) {
                *id = entry.first;
                return &entry.second;
            }
        }
        return nullptr;
    }

    // The window's input context, made at its first key press: the input
    // method is opened then too, so that none of it comes before the first
    // frame. Null where Xlib has no input method for the locale.
    XIC InputContext(NativeWindow& window) {
        if (window.ic == nullptr && !state.lost) {
            if (!inputMethodTried_) {
                inputMethodTried_ = true;
                inputMethod_ = OpenInputMethod(display_);
            }
            if (inputMethod_ != nullptr) {
                window.ic =
                    XCreateIC(inputMethod_, XNInputStyle,
                              static_cast<long>(XIMPreeditNothing | XIMStatusNothing),
                              XNClientWindow, window.xid, XNFocusWindow, window.xid, nullptr);
            }
        }
        return window.ic;
    }

    // Frees what the client keeps for a window going away: its input
    // context and GC, and the record of its creating requests.
    void ReleaseWindow(NativeWindow& window) {
        if (window.ic != nullptr) {
            XDestroyIC(window.ic);
            window.ic = nullptr;
        }
        XFreeGC(display_, window.gc);
        const Window xid = window.xid;
        state.creating.erase(
            std::remove_if(state.creating.begin(), state.creating.end(),
                           [xid](const CreatingRequests& made) { return made.xid == xid; }),
            state.creating.end());
    }

    // Turns an X event into a back-end event; false if there is none.
    bool Translate(XEvent& xevent, BackendEvent* event) {
        if (xevent.type == MappingNotify) {
            XRefreshKeyboardMapping(&xevent.xmapping);
            return false;
        }
        if (xevent.xany.window == root_ ||
            (randr_ && (xevent.type == randrEventBase_ + RRScreenChangeNotify ||
                        xevent.type == randrEventBase_ + RRNotify))) {
            // Forged events must not change the screen Xlib records.
            if (!xevent.xany.send_event &&
                ((randr_ && xevent.type == randrEventBase_ + RRScreenChangeNotify) ||
                 xevent.type == ConfigureNotify)) {
                XRRUpdateConfiguration(&xevent);
            }
            screenStale_ = true;
            return false;
        }
        WindowId id = 0;
        NativeWindow* window = FindByXid(xevent.xany.window, &id);
        if (window == nullptr) {
            return false;
        }
        *event = BackendEvent();
        event->window = id;
        switch (xevent.type) {
            case Expose: {
                const XExposeEvent& e = xevent.xexpose;
                window->exposed = true;
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
                if (!e.send_event && window->parent != root_) {
                    Window child = 0;
                    XTranslateCoordinates(display_, window->xid, root_, 0, 0, &x, &y, &child);
                }
                RECT rect = {x, y, x + e.width, y + e.height};
                if (std::memcmp(&rect, &window->rect, sizeof(rect)) == 0) {
                    return false;
                }
                window->rect = rect;
                event->type = BackendEvent::kConfigure;
                event->rect = rect;
                return true;
            }
            case ReparentNotify:
                window->parent = xevent.xreparent.parent;
                return false;
            case UnmapNotify:
                // Only the server's own report: a forged one would stop the
                // window being drawn.
                if (!xevent.xany.send_event) {
                    window->exposed = false;
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
            case KeyPress: {
                // The input method keeps the keys of a compose sequence,
                // and puts back one key press that carries what they made.
                XIC ic = InputContext(*window);
                if (ic != nullptr && XFilterEvent(&xevent, None)) {
                    return false;
                }
                const int capacity = static_cast<int>(std::size(event->chars));
                event->charCount =
                    ic != nullptr ? TypedWithInputMethod(ic, &xevent.xkey, event->chars, capacity)
                                  : TypedAsLatin1(&xevent.xkey, event->chars, capacity);
                if (event->charCount <= 0) {
                    return false;
                }
                event->type = BackendEvent::kChars;
                return true;
            }
            case DestroyNotify:
                // Our own destroys forget the window first, so this one came
                // from elsewhere. Only the server's own report counts: any
                // client can send a DestroyNotify (XSendEvent), which would
                // end the program while its window stays.
                if (xevent.xdestroywindow.window != window->xid || xevent.xany.send_event) {
                    return false;
                }
                ReleaseWindow(*window);
                windows_.erase(id);
                event->type = BackendEvent::kDestroyed;
                return true;
        }
        return false;
    }

    void SetInitialState(Window xid, int state) {
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
    void SetClientIdentity(Window xid) {
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
    void SetMaximized(NativeWindow& window, bool maximized) {
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
        XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &request);
    }

    // RandR through Xlib's library, which starts with several round trips of
    // its own, and its reports of changes to the screen. Whatever changed
    // before they were asked for is read again.
    void SubscribeRandr() {
        randrDeferred_ = false;
        int eventBase = 0;
        int errorBase = 0;
        int major = 0;
        int minor = 0;
        // Nothing more is asked of RandR once the connection is gone.
        randr_ = XRRQueryExtension(display_, &eventBase, &errorBase) && !state.lost &&
                 XRRQueryVersion(display_, &major, &minor) && !state.lost &&
                 (major > 1 || (major == 1 && minor >= 3));
        randrEventBase_ = eventBase;
        if (randr_) {
            XRRSelectInput(
                display_, root_,
                RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
        }
        screenStale_ = true;
    }

    // The primary monitor: RandR's primary output where the server names
    // one, otherwise the whole X screen.
    void ReadScreenSize() {
        screenStale_ = false;
        if (randr_ && ReadPrimaryOutputSize()) {
            return;
        }
        // Xlib's record of the screen, kept current from the server's own
        // screen-change and root configure events (see Translate).
        screenWidth_ = DisplayWidth(display_, screen_);
        screenHeight_ = DisplayHeight(display_, screen_);
    }

    bool ReadPrimaryOutputSize() {
        RROutput primary = XRRGetOutputPrimary(display_, root_);
        if (primary == None || state.lost) {
            return false;
        }
        XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display_, root_);
        if (resources == nullptr) {
            return false;
        }
        bool found = false;
        XRROutputInfo* output = XRRGetOutputInfo(display_, resources, primary);
        if (output != nullptr && output->crtc != None) {
            XRRCrtcInfo* crtc = XRRGetCrtcInfo(display_, resources, output->crtc);
            if (crtc != nullptr && crtc->width > 0 && crtc->height > 0) {
                screenWidth_ = static_cast<int>(crtc->width);
                screenHeight_ = static_cast<int>(crtc->height);
                found = true;
            }
            if (crtc != nullptr) {
                XRRFreeCrtcInfo(crtc);
            }
        }
        if (output != nullptr) {
            XRRFreeOutputInfo(output);
        }
        XRRFreeScreenResources(resources);
        return found;
    }

    Display* display_;
    int screen_;
    Window root_;
    Visual* visual_;
    int depth_;
    Colormap colormap_;
    std::string program_;
    Atom wmProtocols_ = 0;
    Atom wmDeleteWindow_ = 0;
    Atom netWmName_ = 0;
    Atom utf8String_ = 0;
    Atom netWmState_ = 0;
    Atom maximizedVert_ = 0;
    Atom maximizedHorz_ = 0;
    Atom netWmPid_ = 0;
    bool randr_ = false;
    bool randrDeferred_ = false;  // RandR is there, not yet subscribed to
    int randrEventBase_ = 0;
    ShmState shm_ = ShmState::kUnavailable;
    XShmSegmentInfo shared_ = {};
    bool sharedBusy_ = false;  // a put from the segment may still be pending
    BandPlan plan_;            // how the last band went through the socket
    bool screenStale_ = true;
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    std::unordered_map<WindowId, NativeWindow> windows_;
    XIM inputMethod_ = nullptr;
    bool inputMethodTried_ = false;
};

// A visual whose pixels are 0x00RRGGBB in 32 bits: the surfaces' format.
bool FindTrueColourVisual(Display* display, Visual** visual, int* depth) {
    int screen = DefaultScreen(display);
    XVisualInfo info = {};
    if (!XMatchVisualInfo(display, screen, 24, TrueColor, &info) || info.red_mask != 0xFF0000 ||
        info.green_mask != 0x00FF00 || info.blue_mask != 0x0000FF) {
        return false;
    }
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    bool thirtyTwoBits = false;
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth == 24 && formats[i].bits_per_pixel == 32) {
            thirtyTwoBits = true;
        }
    }
    if (formats != nullptr) {
        XFree(formats);
    }
    Visual* preferred = DefaultVisual(display, screen);
    *visual = preferred->visualid == info.visualid ? preferred : info.visual;
    *depth = 24;
    return thirtyTwoBits;
}

}  // namespace

std::unique_ptr<Backend> OpenDisplay(const std::string& programName, std::string* error) {
    const char* name = XDisplayName(nullptr);
    std::string displayName = name != nullptr ? name : "";
    // A write to a dead connection must become an I/O error, not SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    state = ProcessState();
    state.program = programName;
    state.display = displayName;
    // Xlib asks the server several questions before XOpenDisplay returns: a
    // server that goes away during them is lost like any other (Xlib then
    // ends the program with exit code 1 itself, as no exit handler can be
    // set for a display that is not open yet).
    XSetIOErrorHandler(OnIoError);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        *error = "cannot open display \"" + displayName + "\"";
        if (displayName.empty()) {
            *error += " (DISPLAY is not set)";
        }
        return nullptr;
    }
    Visual* visual = nullptr;
    int depth = 0;
    if (!FindTrueColourVisual(display, &visual, &depth)) {
        XCloseDisplay(display);
        *error = "display \"" + displayName + "\" has no 24-bit true-colour visual";
        return nullptr;
    }
    Colormap colormap = visual == DefaultVisual(display, DefaultScreen(display))
                            ? DefaultColormap(display, DefaultScreen(display))
                            : XCreateColormap(display, RootWindow(display, DefaultScreen(display)),
                                              visual, AllocNone);

    state.display = DisplayString(display);
#if OSTREVANE_HAVE_IO_ERROR_EXIT_HANDLER
    XSetIOErrorExitHandler(display, OnIoErrorExit, nullptr);
#endif
    XSetErrorHandler(OnProtocolError);
    return std::make_unique<X11Backend>(display, visual, depth, colormap, programName);
}

}  // namespace x11
}  // namespace platform
