// The Wayland display's state, shared by the files that make it up, each of
// one concern:
//   connection.cpp    the connection, the registry's globals, the event loop,
//                     and the one-line reports of a lost connection or a
//                     protocol error
//   outputs.cpp       wl_output and xdg-output: the screen size
//   toplevel.cpp      windows: xdg_toplevel roles, with the compositor's
//                     decorations (xdg-decoration) or libdecor's
//   shm_buffers.cpp   client pixels, copied at Present into wl_shm buffers,
//                     and their damage
//   keyboard.cpp      the seat's keyboard: keymap, characters, key repeat
// Listeners are named after their object and event (ToplevelHandleConfigure).
// Nothing here is seen outside this folder: the window manager knows the
// display as a platform::Backend only.
#ifndef OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_DISPLAY_H
#define OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_DISPLAY_H

#include <chrono>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <string>

#include "platform/backends/backend.h"
#include "platform/backends/wayland/protocol_objects.h"
#include "platform/backends/wayland/shm_buffers.h"

namespace platform {
namespace wayland {

class WaylandBackend;

// What the Wayland display keeps for the whole process, because the
// callbacks that need it carry no pointer of ours: libwayland's log
// handler, and libdecor's error callback. There is only ever one display
// open at a time.
struct ProcessState {
    // libwayland's own report of a protocol error (it logs the compositor's
    // message before the call that meets the error fails), kept for the
    // program's one line instead of going to stderr by itself.
    std::string lastWaylandMessage;
    // The display whose libdecor context reports errors, or null.
    WaylandBackend* decorOwner = nullptr;
};
ProcessState& Process();

struct Output {
    std::uint32_t name = 0;  // the registry's
    Owned<wl_output> output;
    Owned<zxdg_output_v1> xdgOutput;
    int modeWidth = 0;
    int modeHeight = 0;
    int transform = WL_OUTPUT_TRANSFORM_NORMAL;
    int scale = 1;
    int logicalWidth = 0;
    int logicalHeight = 0;
};

struct NativeWindow {
    WaylandBackend* display = nullptr;
    WindowId id = 0;
    std::string title;
    RECT rect = {0, 0, 0, 0};  // the client area; Wayland has no positions
    WindowShow show = WindowShow::kHidden;
    Owned<wl_surface> surface;
    // The role, made when shown and dropped when hidden. With libdecor, its
    // frame holds the xdg_surface and xdg_toplevel instead.
    Owned<xdg_surface> xdgSurface;
    Owned<xdg_toplevel> toplevel;
    Owned<zxdg_toplevel_decoration_v1> decoration;
#if OSTREVANE_HAVE_LIBDECOR
    Owned<libdecor_frame> decorFrame;
    // The compositor draws no decorations for this toplevel after all.
    bool clientSideDecorations = false;
#endif
    bool configured = false;  // the role's first configure was acknowledged
    int configureWidth = 0;   // from the latest xdg_toplevel.configure
    int configureHeight = 0;
    Owned<wl_callback> frame;  // a commit waits for this one's frame
    WindowBuffers buffers;

    bool HasRole() const;
};

class WaylandBackend : public Backend {
public:
    WaylandBackend(wl_display* display, const std::string& program, const std::string& name);
    ~WaylandBackend() override;

    // Binds the globals and learns the outputs; false, with `error`, if the
    // compositor cannot show our windows.
    bool Start(std::string* error);

    void GetScreenSize(int* width, int* height) override;
    bool CreateNativeWindow(WindowId id, const char* className, const char* title,
                            const RECT& rect) override;
    void DestroyNativeWindow(WindowId id) override;
    void ShowNativeWindow(WindowId id, WindowShow show) override;
    void Present(WindowId id, const ClientPixels& pixels, const RECT& area) override;
    WaitResult NextEvent(BackendEvent* event, bool wait) override;

    // --- The connection (connection.cpp) ---
    std::string WhyFailed();
    // The connection failed: reports why, once, and breaks the display.
    void MarkLost();
    // Something the display cannot do without: reports `reason` (which
    // names the compositor), once, and breaks the display.
    void Fail(const std::string& reason);
    bool FlushOutput();
    bool Dispatch(bool wait);
    void Queue(const BackendEvent& event) { events_.push_back(event); }
    NativeWindow* FindBySurface(wl_surface* surface);

    // --- Outputs (outputs.cpp) ---
    void AddOutput(wl_registry* registry, std::uint32_t name, std::uint32_t version);
    void RemoveOutput(std::uint32_t name);
    void AddXdgOutput(Output* output);
    const Output* ScreenOutput() const;
    void SurfaceEntered(wl_output* entered);

    // --- Windows (toplevel.cpp) ---
    void MakeRole(NativeWindow* window, bool maximized);
    void DropRole(NativeWindow* window);
    void SetMaximized(NativeWindow* window, bool maximized);
#if OSTREVANE_HAVE_LIBDECOR
    bool StartLibdecor();
    void Redecorate();
#endif

    // --- Pixels (shm_buffers.cpp) ---
    void CommitReadyWindows();
    void Commit(NativeWindow* window);
    BufferMaker MakeBuffer();
    // A pixel buffer could not be had: reports why and breaks the display.
    void FailForBuffer(int width, int height, const std::string& error);

    // --- The keyboard (keyboard.cpp) ---
    void BindSeat(wl_registry* registry, std::uint32_t name, std::uint32_t version);
    void SeatCapabilities(std::uint32_t capabilities);
    void StopKeyRepeat();
    // Milliseconds until the held key repeats, or -1 if none repeats.
    int KeyRepeatTimeout() const;
    void QueueKeyRepeats();

    // Declared in the order they are made, so that they are destroyed in
    // the reverse order, the connection last.
    Owned<wl_display> display_;
    std::string program_;
    std::string name_;
    bool lost_ = false;
    Owned<wl_registry> registry_;
    Owned<wl_compositor> compositor_;
    std::uint32_t compositorVersion_ = 1;
    Owned<wl_shm> shm_;
    Owned<xdg_wm_base> wmBase_;
    Owned<zxdg_decoration_manager_v1> decorationManager_;
    Owned<zxdg_output_manager_v1> outputManager_;
    bool subcompositorOffered_ = false;
    Owned<wl_seat> seat_;
    Owned<xkb_context> xkbContext_;
    Owned<xkb_keymap> xkbKeymap_;
    Owned<xkb_state> xkbState_;
    // Dead keys and compose sequences, as the user's locale has them; none
    // where the locale has no compose table.
    Owned<xkb_compose_table> composeTable_;
    Owned<xkb_compose_state> composeState_;
    bool composeTried_ = false;
    Owned<wl_keyboard> keyboard_;
    WindowId focus_ = 0;
    // The held key that repeats (an evdev code), while repeatWindow_ is set.
    std::uint32_t repeatKey_ = 0;
    WindowId repeatWindow_ = 0;
    std::chrono::steady_clock::time_point nextRepeat_;
    // wl_keyboard.repeat_info: characters a second (0: keys do not repeat)
    // and the delay before the first repeat. Until the compositor says, the
    // X server's defaults.
    int repeatRate_ = 25;
    int repeatDelay_ = 660;
    // A list, so that the listeners' pointers to outputs stay valid.
    std::list<Output> outputs_;
    bool startOutputKnown_ = false;
    std::uint32_t startOutput_ = 0;
#if OSTREVANE_HAVE_LIBDECOR
    libdecor* decor_ = nullptr;
    bool decorReady_ = false;
    bool redecorate_ = false;  // a window was refused server-side decorations
#endif
    // Ordered, so that windows' addresses (listener data) never move.
    std::map<WindowId, NativeWindow> windows_;
    std::deque<BackendEvent> events_;
};

// The compositor as the one line of a failure names it: Wayland compositor
// "wayland-0".
std::string CompositorTitle(const std::string& name);

}  // namespace wayland
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_WAYLAND_WAYLAND_DISPLAY_H
