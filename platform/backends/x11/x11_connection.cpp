// The connection to the X server: opening it and the first questions asked
// of it, Xlib's error handlers with the list of expected errors, the one
// line of a loss or a refusal, and the event loop.
#include <X11/Xlib-xcb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/backends/failure_line.h"
#include "platform/backends/x11/x11_backend.h"
#include "platform/backends/x11/x11_display.h"

namespace platform {
namespace x11 {

ProcessState& Process() {
    static ProcessState state;
    return state;
}

namespace {

// The connection of a display that was lost, which is never closed (see
// ~X11Backend); kept here for the rest of the process.
Display* abandoned = nullptr;

void ReportLoss() {
    ProcessState& state = Process();
    if (!state.lost) {
        state.lost = true;
        // After a refusal the program is ending already, with its one line;
        // once the back end closes, it is ending with the result it has.
        if (!state.refused && !state.closing) {
            PrintFailureLine(state.program,
                             DescribeFailure(Failure::kLost, DisplayTitle(state.display), ""));
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
    PrintFailureLine(Process().program,
                     DescribeFailure(Failure::kRefusedWindow, DisplayTitle(Process().display),
                                     std::string(request) + ": " + reason));
}

// An error in a window's requests ends the program, unless it is about the
// window itself from a later request: it was made, and another client has
// destroyed it already.
int OnProtocolError(Display* display, XErrorEvent* error) {
    ProcessState& state = Process();
    for (ExpectedErrors& entry : state.expected) {
        if (error->serial < entry.first || error->serial > entry.last) {
            continue;
        }
        entry.seen = true;
        const bool itsOwnEnd =
            (error->error_code == BadWindow || error->error_code == BadDrawable) &&
            error->resourceid == entry.xid;
        if (entry.meaning == ExpectedErrors::kWindowRefused && !state.refused && !itsOwnEnd) {
            state.refused = true;
            ReportRefusal(display, *error);
        }
        return 0;
    }
    return 0;
}

// Interns `count` atoms into `atoms` (None where the server gave none) and
// finds out whether RandR 1.3 or later is there and names a primary output,
// through Xlib's XCB connection: every question is in flight at once, and
// the answers take two round trips, not one each. Xlib's own RandR library
// is left untouched: it asks the server more (the Generic Event extension,
// twice) when it starts. False when the connection broke meanwhile: XCB saw
// it, Xlib has not, and Xlib's next request would fail to take the socket
// back from XCB (it then hands its callers no room for the request).
bool AskFirstQuestions(Display* display, const char* const* names, int count, Atom* atoms,
                       bool* randr, bool* randrPrimary) {
    xcb_connection_t* connection = XGetXCBConnection(display);
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (int i = 0; i < count; ++i) {
        cookies.push_back(xcb_intern_atom(
            connection, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i]));
    }
    // The first wait: for RandR's QueryExtension, sent after the atoms,
    // whose replies therefore come with it.
    xcb_prefetch_extension_data(connection, &xcb_randr_id);
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection, &xcb_randr_id);
    const bool present = extension != nullptr && extension->present;
    xcb_randr_query_version_cookie_t version = {};
    xcb_randr_get_output_primary_cookie_t primary = {};
    if (present) {
        // Both in one round trip: a server older than RandR 1.3 answers the
        // second with an error, which its reply call takes.
        version = xcb_randr_query_version(connection, 1, 3);
        primary = xcb_randr_get_output_primary(
            connection, static_cast<xcb_window_t>(DefaultRootWindow(display)));
    }
    for (int i = 0; i < count; ++i) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
        atoms[i] = reply != nullptr ? reply->atom : None;
        std::free(reply);
    }
    *randr = false;
    *randrPrimary = false;
    if (!present) {
        return xcb_connection_has_error(connection) == 0;
    }
    xcb_generic_error_t* error = nullptr;
    xcb_randr_query_version_reply_t* versionReply =
        xcb_randr_query_version_reply(connection, version, &error);
    std::free(error);
    error = nullptr;
    xcb_randr_get_output_primary_reply_t* primaryReply =
        xcb_randr_get_output_primary_reply(connection, primary, &error);
    std::free(error);
    *randr = versionReply != nullptr &&
             (versionReply->major_version > 1 ||
              (versionReply->major_version == 1 && versionReply->minor_version >= 3));
    *randrPrimary = *randr && primaryReply != nullptr && primaryReply->output != 0;
    std::free(versionReply);
    std::free(primaryReply);
    return xcb_connection_has_error(connection) == 0;
}

}  // namespace

std::string DisplayTitle(const std::string& name) { return NamedDisplay("display", name); }

ExpectedErrorRange::ExpectedErrorRange(Display* display, ExpectedErrors::Meaning meaning,
                                       Window xid, unsigned long first)
    : display_(display) {
    static unsigned long ranges = 0;
    ExpectedErrors entry;
    entry.meaning = meaning;
    entry.first = first;
    entry.last = ULONG_MAX;
    entry.xid = xid;
    entry.range = id_ = ++ranges;
    Process().expected.push_back(entry);
}

ExpectedErrorRange::~ExpectedErrorRange() {
    for (ExpectedErrors& entry : Process().expected) {
        if (entry.range == id_) {
            entry.last = NextRequest(display_) - 1;
        }
    }
}

bool StopExpecting(ExpectedErrors::Meaning meaning, Window xid) {
    std::vector<ExpectedErrors>& expected = Process().expected;
    bool seen = false;
    expected.erase(std::remove_if(expected.begin(), expected.end(),
                                  [&](const ExpectedErrors& entry) {
                                      const bool match =
                                          entry.meaning == meaning && entry.xid == xid;
                                      seen = seen || (match && entry.seen);
                                      return match;
                                  }),
                   expected.end());
    return seen;
}

X11Backend::X11Backend(Display* display, Visual* visual, int depth, Colormap colormap,
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
    Atom* atoms[] = {&wmProtocols_, &wmDeleteWindow_, &netWmName_,     &utf8String_,
                     &netWmState_,  &maximizedVert_,  &maximizedHorz_, &netWmPid_};
    Atom answers[8] = {};
    bool randr = false;
    bool randrPrimary = false;
    if (!AskFirstQuestions(display_, names, 8, answers, &randr, &randrPrimary)) {
        // Xlib may not be called on this connection any more: the back end
        // is broken from the start, and says so once.
        ReportLoss();
        return;
    }
    for (int i = 0; i < 8; ++i) {
        *atoms[i] = answers[i];
    }
    StartScreen(randr, randrPrimary);
    StartPixels();
}

X11Backend::~X11Backend() {
    Process().closing = true;
    // After a lost connection Xlib sends nothing more; it only frees its
    // own memory.
    for (auto& entry : windows_) {
        ReleaseWindow(entry.second);
        if (!Process().lost) {
            XDestroyWindow(display_, entry.second.xid);
        }
    }
    if (colormap_ != DefaultColormap(display_, screen_) && !Process().lost) {
        XFreeColormap(display_, colormap_);
    }
    if (inputMethod_ != nullptr) {
        XCloseIM(inputMethod_);
    }
    ReleaseSharedSegment();
    if (Process().lost) {
        // A lost display is never closed. When the connection dies during
        // libXext's question for the Generic Event extension's version
        // (asked the first time any extension is used), libXext frees its
        // record of the display but keeps it on its list, and
        // XCloseDisplay's close hooks would walk that list. Only the socket
        // is closed; the rest goes with the process, which ends now.
        close(ConnectionNumber(display_));
        abandoned = display_;
        return;
    }
    XCloseDisplay(display_);
}

WaitResult X11Backend::NextEvent(BackendEvent* event, bool wait) {
    const ProcessState& state = Process();
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
            if (Dispatch(xevent, event)) {
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
            PrintFailureLine(program_, "cannot wait for " + DisplayTitle(Process().display) + ": " +
                                           std::strerror(errno));
            return WaitResult::kBroken;
        }
    }
}

// Xlib hands out the events it has queued without looking at the
// connection, and a storm can leave thousands queued: the server's hang-up
// is looked for directly, so that a lost display ends the program at once,
// not after the backlog.
bool X11Backend::ServerHungUp() {
    int fd = ConnectionNumber(display_);
    pollfd connection = {fd, POLLRDHUP, 0};
    if (poll(&connection, 1, 0) <= 0 ||
        (connection.revents & (POLLHUP | POLLRDHUP | POLLERR)) == 0) {
        return false;
    }
    ReportLoss();
    // What the dead server left unread is of no use: drop it, so that Xlib
    // meets the end of the connection at once instead of reading (and
    // complaining about) half-sent events. A request then makes Xlib see
    // the hang-up itself, so that none of its later calls (XCloseDisplay's
    // among them) waits on or reads the connection.
    char scratch[4096];
    for (int i = 0; i < 1024 && recv(fd, scratch, sizeof(scratch), MSG_DONTWAIT) > 0; ++i) {
    }
    XNoOp(display_);
    XFlush(display_);
    return true;
}

bool X11Backend::Dispatch(XEvent& xevent, BackendEvent* event) {
    if (xevent.type == MappingNotify) {  // another keyboard layout
        XRefreshKeyboardMapping(&xevent.xmapping);
        return false;
    }
    if (ScreenEvent(xevent)) {
        return false;
    }
    WindowId id = 0;
    NativeWindow* window = FindByXid(xevent.xany.window, &id);
    if (window == nullptr) {
        return false;
    }
    *event = BackendEvent();
    event->window = id;
    return xevent.type == KeyPress ? KeyPressed(xevent, *window, event)
                                   : WindowEvent(xevent, id, *window, event);
}

void X11Backend::AfterFirstFrame() {
    if (shm_ == ShmState::kUntried && !Process().lost) {
        StartSharedSegment();
    }
    if (randrDeferred_ && !Process().lost) {
        SubscribeRandr();
    }
}

std::unique_ptr<Backend> OpenDisplay(const std::string& programName, std::string* error) {
    const char* name = XDisplayName(nullptr);
    std::string displayName = name != nullptr ? name : "";
    // A write to a dead connection must become an I/O error, not SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    ProcessState& state = Process();
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
        *error = DescribeFailure(Failure::kCannotOpen, DisplayTitle(displayName),
                                 displayName.empty() ? "DISPLAY is not set" : "");
        return nullptr;
    }
    Visual* visual = nullptr;
    int depth = 0;
    if (!FindTrueColourVisual(display, &visual, &depth)) {
        XCloseDisplay(display);
        *error = DisplayTitle(displayName) + " has no 24-bit true-colour visual";
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
