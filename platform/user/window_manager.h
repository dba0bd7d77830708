// The window manager's state, shared by the files of platform/user.
//
// Windows live in a slot table. An HWND carries its slot index in the low
// 16 bits and the slot's generation in the next 16, so a handle is only ever
// decoded and looked up, never dereferenced, and a handle of a destroyed
// window stops matching as soon as its slot is freed.
//
// Nothing here may be held across a call into a window procedure: the
// procedure can destroy windows (and so free records) or create them (and
// so grow the table). Code looks the window up again after every call out.
#ifndef OSTREVANE_PLATFORM_USER_WINDOW_MANAGER_H
#define OSTREVANE_PLATFORM_USER_WINDOW_MANAGER_H

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/backends/backend.h"
#include "platform/gdi/pixel_memory.h"
#include "platform/gdi/surface.h"

namespace platform {
namespace user {

struct WindowClass {
    std::string name;
    ATOM atom = 0;
    WNDPROC proc = nullptr;
    HBRUSH background = nullptr;
};

struct PaintContext {
    HDC hdc = nullptr;
    HWND hwnd = nullptr;
    std::vector<RECT> area;  // the update region BeginPaint took over
};

struct WindowRecord {
    HWND hwnd = nullptr;
    const WindowClass* windowClass = nullptr;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string title;
    // The client area in screen coordinates; the window has no frame of its
    // own (the display draws any decoration), so this is also its rect.
    RECT rect = {0, 0, 0, 0};

    // The update region in client coordinates: a few rectangles, merged into
    // their bounding box when there would be too many. Empty: valid.
    std::vector<RECT> update;
    bool needsErase = false;

    // The client pixels, lent to the GDI through `surface`. The Surface sits
    // on the heap so that its address stays put while the table grows.
    PixelMemory pixels;
    std::unique_ptr<Surface> surface;
    // What the GDI changed since the back end last showed the window.
    bool hasDirty = false;
    RECT dirty = {0, 0, 0, 0};

    std::vector<HDC> windowDCs;  // from GetDC, until ReleaseDC
    bool destroying = false;
    bool nativeGone = false;  // the display already dropped its window
};

struct State {
    Backend* backend = nullptr;
    std::vector<std::unique_ptr<WindowRecord>> slots;
    std::vector<std::uint16_t> generations;
    std::vector<std::unique_ptr<WindowClass>> classes;
    std::deque<MSG> posted;
    bool quitPending = false;
    int quitCode = 0;
    std::vector<PaintContext> paints;  // between BeginPaint and EndPaint
    // The display removed a native window on its own (kDestroyed).
    bool windowTakenAway = false;
};

State& GetState();

// The record of a live window, or nullptr for NULL, stale or forged handles.
WindowRecord* FindWindowRecord(HWND hwnd);

// Takes a free slot and gives it a fresh handle; nullptr when the table is
// full.
WindowRecord* AllocateWindowRecord();

// Frees the slot: the handle stops being valid.
void FreeWindowRecord(HWND hwnd);

// Window procedures' view of the clock, for MSG::time.
DWORD MessageTime();

// painting.cpp
bool CreateWindowSurface(WindowRecord* window);
void ReleaseWindowSurface(WindowRecord* window);
// Gives the client area a new size, keeping what the old one showed at the
// top left; the new part is invalidated for erasing.
void ResizeWindowSurface(WindowRecord* window, int width, int height);
void AddToUpdate(WindowRecord* window, const RECT& area, bool erase);
// Hands what the GDI changed to the back end, settled (see surface.h).
void PresentWindow(WindowRecord* window);
void PresentAllWindows();
// The class brush over `area` of the DC; false if there is nothing to fill
// with or the DC refuses it.
bool EraseBackground(WindowRecord* window, HDC hdc);

// message_queue.cpp
void DropPostedMessages(HWND hwnd);
void ResetMessageQueue();

// display_events.cpp
// Handles display events; with `wait`, blocks until at least one came.
// False when the display is gone.
bool PumpDisplay(bool wait);
// Around one run of WinMain on `backend`: StartRun before it, and FinishRun
// with what it returned gives the program's exit code.
void StartRun();
int FinishRun(int result, Backend* backend);

// code_page.cpp
// The Windows-1252 byte of a Unicode code point, the character an ANSI
// window receives for it, best fit included, as Windows converts it; '?'
// where the code page has neither, as WideCharToMultiByte's default
// character.
unsigned char AnsiFromCodePoint(char32_t codePoint);

inline int RectWidth(const RECT& r) { return r.right - r.left; }
inline int RectHeight(const RECT& r) { return r.bottom - r.top; }
inline bool RectEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
inline bool RectContains(const RECT& outer, const RECT& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}
RECT IntersectRects(const RECT& a, const RECT& b);
RECT UnionRects(const RECT& a, const RECT& b);      // of non-empty rectangles
RECT BoundingRect(const std::vector<RECT>& rects);  // empty for none

}  // namespace user
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_USER_WINDOW_MANAGER_H
