// Window classes, window creation and destruction, showing, the default
// window procedure, system metrics and the system's icon and cursor.
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "platform/user/window_manager.h"

using platform::WindowId;
using platform::WindowShow;
using platform::user::FindWindowRecord;
using platform::user::GetState;
using platform::user::State;
using platform::user::WindowClass;
using platform::user::WindowRecord;

namespace {

// Class names are strings of at most this many characters, as on Windows.
const std::size_t kMaxClassName = 256;
const ATOM kFirstClassAtom = 0xC000;
// The largest client side a window is created with.
const int kMaxCreateSide = platform::kMaxSurfaceSide;

// Values below 0x10000 in a string parameter are atoms or resource numbers,
// never pointers.
bool IsIntResource(LPCSTR name) { return reinterpret_cast<std::uintptr_t>(name) < 0x10000; }

WindowClass* FindClass(LPCSTR name) {
    if (name == nullptr) {
        return nullptr;
    }
    State& state = GetState();
    for (std::unique_ptr<WindowClass>& windowClass : state.classes) {
        bool match =
            IsIntResource(name)
                ? windowClass->atom == static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name))
                : strcasecmp(windowClass->name.c_str(), name) == 0;
        if (match) {
            return windowClass.get();
        }
    }
    return nullptr;
}

WindowId IdOf(HWND hwnd) { return reinterpret_cast<WindowId>(hwnd); }

// Windows' default placement: the top-left corner of the screen, three
// quarters of the screen's width and height.
void ApplyDefaultPlacement(int* x, int* y, int* width, int* height) {
    std::int64_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
    std::int64_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (*x == CW_USEDEFAULT) {
        *x = 0;
        *y = 0;
    }
    std::int64_t cx = *width;
    std::int64_t cy = *height;
    if (*width == CW_USEDEFAULT) {
        cx = screenWidth * 3 / 4 - *x;
        cy = screenHeight * 3 / 4 - *y;
    } else if (*height == CW_USEDEFAULT) {
        cy = screenHeight * 3 / 4 - *y;
    }
    *width = static_cast<int>(std::clamp<std::int64_t>(cx, 1, kMaxCreateSide));
    *height = static_cast<int>(std::clamp<std::int64_t>(cy, 1, kMaxCreateSide));
}

// Takes the window down after a failed creation or at the end of
// DestroyWindow: surface, DCs, queued messages, native window, handle.
void DiscardWindow(HWND hwnd) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr) {
        return;
    }
    State& state = GetState();
    platform::user::ReleaseWindowSurface(window);
    platform::user::DropPostedMessages(hwnd);
    if (state.backend != nullptr && !window->nativeGone) {
        state.backend->DestroyNativeWindow(IdOf(hwnd));
    }
    platform::user::FreeWindowRecord(hwnd);
}

// Sends the destruction messages; the window is discarded afterwards.
void SendDestroyMessages(HWND hwnd, bool sendDestroy) {
    if (sendDestroy) {
        SendMessageA(hwnd, WM_DESTROY, 0, 0);
    }
    SendMessageA(hwnd, WM_NCDESTROY, 0, 0);
}

WindowShow ShowStateOf(const WindowRecord& window) {
    if ((window.style & WS_VISIBLE) == 0) {
        return WindowShow::kHidden;
    }
    if (window.style & WS_MINIMIZE) {
        return WindowShow::kMinimized;
    }
    if (window.style & WS_MAXIMIZE) {
        return WindowShow::kMaximized;
    }
    return WindowShow::kNormal;
}

}  // namespace

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wndClass) {
    if (wndClass == nullptr || wndClass->cbSize != sizeof(WNDCLASSEXA) ||
        wndClass->lpfnWndProc == nullptr || wndClass->cbClsExtra < 0 || wndClass->cbWndExtra < 0 ||
        wndClass->lpszClassName == nullptr || IsIntResource(wndClass->lpszClassName)) {
        return 0;
    }
    std::size_t length = strnlen(wndClass->lpszClassName, kMaxClassName + 1);
    if (length == 0 || length > kMaxClassName || FindClass(wndClass->lpszClassName) != nullptr) {
        return 0;
    }
    State& state = GetState();
    if (state.classes.size() >= 0x4000) {
        return 0;
    }
    auto windowClass = std::make_unique<WindowClass>();
    windowClass->name.assign(wndClass->lpszClassName, length);
    windowClass->atom = static_cast<ATOM>(kFirstClassAtom + state.classes.size());
    windowClass->proc = wndClass->lpfnWndProc;
    windowClass->background = wndClass->hbrBackground;
    state.classes.push_back(std::move(windowClass));
    return state.classes.back()->atom;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    State& state = GetState();
    const WindowClass* windowClass = FindClass(className);
    if (windowClass == nullptr || state.backend == nullptr) {
        return NULL;
    }
    ApplyDefaultPlacement(&x, &y, &width, &height);
    std::int64_t right = static_cast<std::int64_t>(x) + width;
    std::int64_t bottom = static_cast<std::int64_t>(y) + height;
    if (right > 0x7FFFFFFF || bottom > 0x7FFFFFFF) {
        return NULL;
    }

    WindowRecord* window = platform::user::AllocateWindowRecord();
    if (window == nullptr) {
        return NULL;
    }
    HWND hwnd = window->hwnd;
    window->windowClass = windowClass;
    window->proc = windowClass->proc;
    window->style = style & ~static_cast<DWORD>(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
    window->exStyle = exStyle;
    if (windowName != nullptr && !IsIntResource(windowName)) {
        window->title = windowName;
    }
    window->rect = RECT{x, y, static_cast<LONG>(right), static_cast<LONG>(bottom)};
    if (!platform::user::CreateWindowSurface(window) ||
        !state.backend->CreateNativeWindow(IdOf(hwnd), windowClass->name.c_str(),
                                           window->title.c_str(), window->rect)) {
        window->nativeGone = true;
        DiscardWindow(hwnd);
        return NULL;
    }
    // The whole client area waits for its first paint, shown or not.
    platform::user::AddToUpdate(window, RECT{0, 0, width, height}, true);

    CREATESTRUCTA create = {};
    create.lpCreateParams = param;
    create.hInstance = instance;
    create.hMenu = menu;
    create.hwndParent = parent;
    create.cx = width;
    create.cy = height;
    create.x = x;
    create.y = y;
    create.style = static_cast<LONG>(style);
    create.lpszName = windowName;
    create.lpszClass = className;
    create.dwExStyle = exStyle;

    if (SendMessageA(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)) == FALSE) {
        WindowRecord* failed = FindWindowRecord(hwnd);
        if (failed != nullptr && !failed->destroying) {
            failed->destroying = true;
            SendDestroyMessages(hwnd, false);
            DiscardWindow(hwnd);
        }
        return NULL;
    }
    // The procedure may have destroyed the window itself.
    if (FindWindowRecord(hwnd) == nullptr) {
        return NULL;
    }
    if (SendMessageA(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        WindowRecord* failed = FindWindowRecord(hwnd);
        if (failed != nullptr && !failed->destroying) {
            failed->destroying = true;
            SendDestroyMessages(hwnd, true);
            DiscardWindow(hwnd);
        }
        return NULL;
    }
    if (FindWindowRecord(hwnd) == nullptr) {
        return NULL;
    }
    if (style & WS_VISIBLE) {
        ShowWindow(hwnd, (style & WS_MINIMIZE)   ? SW_SHOWMINIMIZED
                         : (style & WS_MAXIMIZE) ? SW_SHOWMAXIMIZED
                                                 : SW_SHOW);
    }
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr || window->destroying) {
        return FALSE;
    }
    window->destroying = true;
    SendDestroyMessages(hwnd, true);
    DiscardWindow(hwnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) { return FindWindowRecord(hwnd) != nullptr; }

BOOL WINAPI IsWindowVisible(HWND hwnd) {
    WindowRecord* window = FindWindowRecord(hwnd);
    return window != nullptr && (window->style & WS_VISIBLE) != 0;
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr || rect == nullptr) {
        return FALSE;
    }
    *rect = RECT{0, 0, platform::user::RectWidth(window->rect),
                 platform::user::RectHeight(window->rect)};
    return TRUE;
}

// The window on the screen. Its frame and caption, if any, are the display's,
// so this is the client area in screen coordinates.
BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr || rect == nullptr) {
        return FALSE;
    }
    *rect = window->rect;
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hwnd, int showCommand) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr) {
        return FALSE;
    }
    const DWORD stateBits = WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE;
    bool wasVisible = (window->style & WS_VISIBLE) != 0;
    DWORD bits = 0;
    switch (showCommand) {
        case SW_HIDE:
            bits = window->style & (WS_MINIMIZE | WS_MAXIMIZE);
            break;
        case SW_SHOW:
        case SW_SHOWNA:
            // Shown in its current state.
            bits = WS_VISIBLE | (window->style & (WS_MINIMIZE | WS_MAXIMIZE));
            break;
        case SW_SHOWNORMAL:
        case SW_SHOWNOACTIVATE:
        case SW_RESTORE:
        case SW_SHOWDEFAULT:
            bits = WS_VISIBLE;
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            bits = WS_VISIBLE | WS_MINIMIZE;
            break;
        case SW_SHOWMAXIMIZED:
            bits = WS_VISIBLE | WS_MAXIMIZE;
            break;
        default:
            return FALSE;
    }
    if ((window->style & stateBits) == bits) {
        return wasVisible ? TRUE : FALSE;
    }
    window->style = (window->style & ~stateBits) | bits;
    if (!wasVisible && (bits & WS_VISIBLE)) {
        // Nothing of a hidden window was kept on the display.
        platform::user::AddToUpdate(window,
                                    RECT{0, 0, platform::user::RectWidth(window->rect),
                                         platform::user::RectHeight(window->rect)},
                                    true);
    }
    State& state = GetState();
    if (state.backend != nullptr && !window->nativeGone) {
        state.backend->ShowNativeWindow(IdOf(hwnd), ShowStateOf(*window));
    }
    return wasVisible ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* window = FindWindowRecord(hwnd);
    if (window == nullptr) {
        return 0;
    }
    switch (message) {
        case WM_NCCREATE:
            return TRUE;

        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;

        case WM_ERASEBKGND:
            return platform::user::EraseBackground(window, reinterpret_cast<HDC>(wParam)) ? 1 : 0;

        case WM_PAINT: {
            PAINTSTRUCT paint;
            if (BeginPaint(hwnd, &paint) != NULL) {
                EndPaint(hwnd, &paint);
            }
            return 0;
        }

        case WM_WINDOWPOSCHANGED: {
            const WINDOWPOS* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
            if (pos == nullptr) {
                return 0;
            }
            UINT flags = pos->flags;
            RECT rect = window->rect;
            WPARAM sizeType = (window->style & WS_MINIMIZE)   ? SIZE_MINIMIZED
                              : (window->style & WS_MAXIMIZE) ? SIZE_MAXIMIZED
                                                              : SIZE_RESTORED;
            if ((flags & SWP_NOMOVE) == 0) {
                SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(rect.left, rect.top));
            }
            if ((flags & SWP_NOSIZE) == 0 && FindWindowRecord(hwnd) != nullptr) {
                SendMessageA(
                    hwnd, WM_SIZE, sizeType,
                    MAKELPARAM(platform::user::RectWidth(rect), platform::user::RectHeight(rect)));
            }
            return 0;
        }
    }
    return 0;
}

int WINAPI GetSystemMetrics(int index) {
    State& state = GetState();
    if (state.backend == nullptr || (index != SM_CXSCREEN && index != SM_CYSCREEN)) {
        return 0;
    }
    int width = 0;
    int height = 0;
    state.backend->GetScreenSize(&width, &height);
    return index == SM_CXSCREEN ? width : height;
}

namespace {

// The system's own icons and cursors are the only ones there are; their
// handles are fixed values that nothing ever dereferences.
const WORD kFirstSystemResource = 32512;  // IDI_APPLICATION, IDC_ARROW
const std::uintptr_t kIconBase = 0x10000;
const std::uintptr_t kCursorBase = 0x20000;

}  // namespace

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    if (instance != NULL || name != IDI_APPLICATION) {
        return NULL;
    }
    return reinterpret_cast<HICON>(kIconBase + kFirstSystemResource);
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    if (instance != NULL || name != IDC_ARROW) {
        return NULL;
    }
    return reinterpret_cast<HCURSOR>(kCursorBase + kFirstSystemResource);
}
