// What the window manager needs from a display, and what a display reports
// back to it.
//
// The window manager (platform/user) keeps every Win32 window's state: class,
// styles, update region, client pixels. A back end only mirrors the windows
// on a display: it creates and shows native windows, shows client pixels
// that the window manager hands it, and turns what happens on the display
// (close requests, typed characters, moves and resizes, exposure) into
// events. Exactly one back end is installed at a time; everything runs on
// the one thread that runs the message loop.
//
// Present is the only time a back end reads a window's pixels: what it
// needs of them later (a commit that waits for the display, a window shown
// again) it copies during that call.
#ifndef OSTREVANE_PLATFORM_BACKENDS_BACKEND_H
#define OSTREVANE_PLATFORM_BACKENDS_BACKEND_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Names a window to the back end: the value of its HWND. The back end
// stores it and hands it back in events, and never looks inside it.
typedef std::uintptr_t WindowId;

// The largest side, in pixels, of a client area the window manager keeps
// pixels for (a 16384x16384 window already takes 1 GiB), and so of any
// native window a back end makes or a screen size it reports.
constexpr int kMaxSurfaceSide = 16384;

enum class WindowShow { kHidden, kNormal, kMinimized, kMaximized };

// A window's client pixels as Present hands them over: settled (every
// drawing call is in them) and valid only during the call.
struct ClientPixels {
    // Row y is at rows + y * stride; `width` pixels of 0x00RRGGBB each (the
    // top byte is not looked at).
    const std::uint32_t* rows = nullptr;
    std::size_t stride = 0;
    int width = 0;
    int height = 0;
    // The part that may hold anything but the background: outside it every
    // pixel is 0 (black) and need not be read. Inside the pixels; empty
    // (right <= left or bottom <= top) when all of them are black.
    RECT ink = {0, 0, 0, 0};
};

struct BackendEvent {
    enum Type {
        kClose,      // the user asked to close the window
        kChars,      // a key press typed the characters in `chars`
        kConfigure,  // the window moved or changed size: `rect`
        kExpose,     // `rect` of the client area must be shown again
        kDestroyed,  // the native window went away without being asked to
    };
    Type type = kClose;
    WindowId window = 0;
    // kConfigure: the client area in screen coordinates. kExpose: the area
    // in client coordinates.
    RECT rect = {0, 0, 0, 0};
    // kChars: the characters in the order typed, as Unicode code points
    // (whatever the display's own encoding); the window manager turns them
    // into the window's code page.
    char32_t chars[16] = {};
    int charCount = 0;
};

enum class WaitResult {
    kEvent,    // *event was filled
    kNoEvent,  // nothing is pending (only when not asked to wait)
    kBroken,   // the display is gone, or nothing could ever arrive
};

class Backend {
public:
    virtual ~Backend() = default;

    // The primary monitor's size in pixels.
    virtual void GetScreenSize(int* width, int* height) = 0;

    // Makes a hidden native window whose client area covers `rect` (screen
    // coordinates). `className` is the Win32 class, for the display's own
    // bookkeeping. Returns false if the display cannot make one.
    virtual bool CreateNativeWindow(WindowId window, const char* className, const char* title,
                                    const RECT& rect) = 0;

    // Removes the native window; unknown windows are ignored.
    virtual void DestroyNativeWindow(WindowId window) = 0;

    virtual void ShowNativeWindow(WindowId window, WindowShow show) = 0;

    // Puts `area` of the client pixels on the display. `area` is in client
    // coordinates, inside the pixels and never empty. The pixels may be read
    // during this call only; output may be buffered until NextEvent.
    virtual void Present(WindowId window, const ClientPixels& pixels, const RECT& area) = 0;

    // Takes the next event. With `wait`, blocks until there is one and
    // never returns kNoEvent; all output is sent before blocking.
    virtual WaitResult NextEvent(BackendEvent* event, bool wait) = 0;

    // After the display took a window away on its own (kDestroyed), how
    // long its loss may take to show if it is going away: an X server that
    // shuts down destroys its windows before its connection closes.
    virtual int LossGraceMilliseconds() const { return 500; }
};

// What opens a display: the back end, or nullptr with a one-line reason in
// `error` that names the display. `programName` is for the one line the
// back end prints if the display is lost later (see PrintFailureLine), and
// for what the display shows of the program (X11's WM_CLASS, Wayland's
// app id).
typedef std::unique_ptr<Backend> (*DisplayOpener)(const std::string& programName,
                                                  std::string* error);

// Makes `backend` the display the window manager uses from now on; nullptr
// leaves it with none (window creation then fails). The caller keeps
// ownership and uninstalls it before destroying it.
void InstallBackend(Backend* backend);

// Forgets every window, class, DC and message without sending any message.
// For back ends starting afresh (tests) and for leaving after a lost display.
void ResetWindowManager();

// The program's start on top of an opened back end: installs it, calls
// WinMain with an instance handle, the arguments after the program name
// joined by spaces, and SW_SHOWDEFAULT, then forgets what WinMain left and
// uninstalls the back end. Returns WinMain's result.
int RunWinMain(int argc, char** argv, Backend* backend);

// The name the program was started as (argv[0] without its directory),
// for the one line it prints when it cannot go on; "ostrevane" when there
// is none.
std::string ProgramName(int argc, char** argv);

}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_BACKEND_H
