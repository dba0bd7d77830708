// The X11 display's state, shared by the files that make it up, each of one
// concern:
//   x11_connection.cpp  the connection: opening it and the first questions
//                       asked of the server, Xlib's error handlers and the
//                       list of expected errors, the one line of a loss or a
//                       refusal, the event loop (a dispatcher into the
//                       handlers below) and what starts after the first frame
//   x11_screen.cpp      the screen size: the X screen, or RandR's primary
//                       output, read again when either changes
//   x11_windows.cpp     windows: one top-level X window each, its
//                       window-manager hints, and the events about it
//   x11_pixels.cpp      client pixels: Present, bands through the socket as
//                       x11_encode.h plans them, MIT-SHM's shared segment
//   x11_keyboard.cpp    key presses: the input method and the text it hands
//                       out
// Each Win32 window is one top-level X window whose whole area is the client
// area: any frame and caption are the X window manager's. Nothing here is
// seen outside this folder: the window manager knows the display as a
// platform::Backend only.
#ifndef OSTREVANE_PLATFORM_BACKENDS_X11_X11_DISPLAY_H
#define OSTREVANE_PLATFORM_BACKENDS_X11_X11_DISPLAY_H

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/backends/backend.h"
#include "platform/backends/x11/x11_encode.h"

namespace platform {
namespace x11 {

// Requests whose errors mean something. Errors arrive long after their
// requests (nothing waits for them) and are told apart by serial: each
// entry is the serials of the requests of one step, and what an error in
// them means. The step that sends them registers its entry, as Wine's
// driver does with X11DRV_expect_error; errors outside every entry are not
// fatal (the usual one is a request for a window another program has just
// destroyed, which DestroyNotify then reports).
struct ExpectedErrors {
    enum Meaning {
        kWindowRefused,    // the window `xid` will never be: the program cannot go on
        kNoSharedSegment,  // the server could not attach the shared segment
    };
    Meaning meaning = kWindowRefused;
    unsigned long first = 0;
    unsigned long last = 0;
    Window xid = 0;
    bool seen = false;        // an error in the range came
    unsigned long range = 0;  // the ExpectedErrorRange that opened it
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
    // The server refused one of our windows (the line saying so has gone
    // to stderr).
    bool refused = false;
    // The back end is being closed: the program's result is settled, and a
    // loss seen now is not reported.
    bool closing = false;
    std::vector<ExpectedErrors> expected;
};
ProcessState& Process();

// The requests sent while it lives, as one entry of `meaning` for `xid`:
// made, it opens the entry at the next request (or at `first`, a request
// already sent while nothing could read its answer, such as the one that
// made `xid`); gone, it closes the entry after the requests sent so far. The
// entry stays, for errors still on their way, until StopExpecting. Made
// before its requests go: Xlib may read the server's answers while it sends
// them.
class ExpectedErrorRange {
public:
    ExpectedErrorRange(Display* display, ExpectedErrors::Meaning meaning, Window xid)
        : ExpectedErrorRange(display, meaning, xid, NextRequest(display)) {}
    ExpectedErrorRange(Display* display, ExpectedErrors::Meaning meaning, Window xid,
                       unsigned long first);
    ~ExpectedErrorRange();
    ExpectedErrorRange(const ExpectedErrorRange&) = delete;
    ExpectedErrorRange& operator=(const ExpectedErrorRange&) = delete;

private:
    Display* display_;
    unsigned long id_ = 0;
};
// Forgets the entries of `meaning` for `xid`; whether one of them saw an
// error.
bool StopExpecting(ExpectedErrors::Meaning meaning, Window xid);

// The display as the one line of a failure names it: display ":0".
std::string DisplayTitle(const std::string& name);

// A visual whose pixels are 0x00RRGGBB in 32 bits, the window manager's
// format; false if the display has none (x11_pixels.cpp).
bool FindTrueColourVisual(Display* display, Visual** visual, int* depth);

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
               const std::string& program);
    ~X11Backend() override;

    // --- The connection (x11_connection.cpp) ---
    WaitResult NextEvent(BackendEvent* event, bool wait) override;
    bool ServerHungUp();
    // Hands an X event to the concern it is about; true if it made `event`.
    bool Dispatch(XEvent& xevent, BackendEvent* event);
    // Once the first frame has gone: what would have held it up.
    void AfterFirstFrame();

    // --- The screen (x11_screen.cpp) ---
    void GetScreenSize(int* width, int* height) override;
    // Whether RandR can name a primary output, and whether it does.
    void StartScreen(bool randr, bool randrPrimary);
    void SubscribeRandr();
    void ReadScreenSize();
    bool ReadPrimaryOutputSize();
    // Events about the screen; true if `xevent` was one.
    bool ScreenEvent(XEvent& xevent);

    // --- Windows (x11_windows.cpp) ---
    bool CreateNativeWindow(WindowId id, const char* className, const char* title,
                            const RECT& rect) override;
    void DestroyNativeWindow(WindowId id) override;
    void ShowNativeWindow(WindowId id, WindowShow show) override;
    void SetInitialState(Window xid, int state);
    void SetClientIdentity(Window xid);
    void SetMaximized(NativeWindow& window, bool maximized);
    NativeWindow* FindByXid(Window xid, WindowId* id);
    void ReleaseWindow(NativeWindow& window);
    // An event about `window`, which is `id`; true if it made `event`.
    bool WindowEvent(XEvent& xevent, WindowId id, NativeWindow& window, BackendEvent* event);

    // --- Pixels (x11_pixels.cpp) ---
    void StartPixels();
    void Present(WindowId id, const ClientPixels& pixels, const RECT& area) override;
    void StartSharedSegment();
    // Before the program waits: the one round trip that tells whether the
    // server attached the segment.
    void ConfirmSharedSegment();
    void ReleaseSharedSegment();
    bool PutShared(NativeWindow& window, const ClientPixels& pixels, const RECT& area);
    void PutBand(NativeWindow& window, const ClientPixels& pixels, XImage* image, const RECT& band);
    XImage PixelImage(char* data, int width, int height) const;

    // --- The keyboard (x11_keyboard.cpp) ---
    XIC InputContext(NativeWindow& window);
    bool KeyPressed(XEvent& xevent, NativeWindow& window, BackendEvent* event);

    // The connection.
    Display* display_;
    int screen_;
    Window root_;
    Visual* visual_;
    int depth_;
    Colormap colormap_;
    std::string program_;
    // Atoms, asked for as the connection opens.
    Atom wmProtocols_ = 0;
    Atom wmDeleteWindow_ = 0;
    Atom netWmName_ = 0;
    Atom utf8String_ = 0;
    Atom netWmState_ = 0;
    Atom maximizedVert_ = 0;
    Atom maximizedHorz_ = 0;
    Atom netWmPid_ = 0;
    // The screen.
    bool randr_ = false;
    bool randrDeferred_ = false;  // RandR is there, not yet subscribed to
    int randrEventBase_ = 0;
    bool screenStale_ = true;
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    // Windows.
    std::unordered_map<WindowId, NativeWindow> windows_;
    // Pixels. The segment is made after the first frame has gone through
    // the socket: attaching it and the first touch of its pages on both
    // sides would hold that frame up longer than sending it does.
    enum class ShmState { kUntried, kAttaching, kReady, kUnavailable };
    ShmState shm_ = ShmState::kUnavailable;
    XShmSegmentInfo shared_ = {};
    bool sharedBusy_ = false;  // a put from the segment may still be pending
    BandPlan plan_;            // how the last band went through the socket
    // The keyboard.
    XIM inputMethod_ = nullptr;
    bool inputMethodTried_ = false;
};

}  // namespace x11
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_X11_X11_DISPLAY_H
