// The web display.
//
// The page that loads the program is the screen: its viewport, in CSS
// pixels, is the screen size. Each Win32 window is a frame the page draws
// (caption, close button, edges to drag) around a <canvas> that holds
// exactly the client pixels, one canvas pixel per CSS pixel. The page script
// (page/ostrevane-page.js) keeps the frames and queues what the user does
// with them; this file is the thin bridge from the Backend interface to it.
//
// Waiting for an event yields to the browser through ASYNCIFY: the wait
// unwinds the wasm stack, the browser runs its event loop, and the stack is
// rewound when the page queues an event. Everything else is synchronous.
#include "platform/backends/web/web_backend.h"

#include <emscripten.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <unordered_set>

namespace {

// One event as the page writes it into wasm memory.
struct PageEvent {
    std::int32_t type;  // BackendEvent::Type
    std::int32_t window;
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
    std::int32_t charCount;
    std::uint32_t chars[16];  // Unicode code points
};

}  // namespace

// clang-format off
EM_JS(int, ostrevane_page_present, (), {
    return typeof Module === "object" && typeof Module.ostrevanePage === "object" &&
           Module.ostrevanePage !== null ? 1 : 0;
});

EM_JS(void, ostrevane_page_screen_size, (int* width, int* height), {
    var size = Module.ostrevanePage.screenSize();
    HEAP32[width >> 2] = size[0];
    HEAP32[height >> 2] = size[1];
});

EM_JS(int, ostrevane_page_create, (std::uint32_t window, const char* className, const char* title,
                                   int left, int top, int right, int bottom), {
    return Module.ostrevanePage.createWindow(window >>> 0, UTF8ToString(className),
                                             UTF8ToString(title), left, top, right, bottom) ? 1 : 0;
});

EM_JS(void, ostrevane_page_destroy, (std::uint32_t window), {
    Module.ostrevanePage.destroyWindow(window >>> 0);
});

EM_JS(void, ostrevane_page_show, (std::uint32_t window, int show), {
    Module.ostrevanePage.showWindow(window >>> 0, show);
});

EM_JS(void, ostrevane_page_put, (std::uint32_t window, const std::uint32_t* pixels, int stride,
                                 int width, int height, int left, int top, int right, int bottom), {
    Module.ostrevanePage.putPixels(window >>> 0, HEAPU32, pixels >> 2, stride, width, height, left,
                                   top, right, bottom);
});

EM_JS(int, ostrevane_page_take_event, (void* event), {
    var e = Module.ostrevanePage.takeEvent();
    if (!e) {
        return 0;
    }
    var base = event >> 2;
    HEAP32[base] = e.type;
    HEAP32[base + 1] = e.window;
    HEAP32[base + 2] = e.left || 0;
    HEAP32[base + 3] = e.top || 0;
    HEAP32[base + 4] = e.right || 0;
    HEAP32[base + 5] = e.bottom || 0;
    var chars = e.chars || [];
    var count = Math.min(chars.length, 16);
    HEAP32[base + 6] = count;
    for (var i = 0; i < count; ++i) {
        HEAPU32[base + 7 + i] = chars[i] >>> 0;
    }
    return 1;
});

EM_ASYNC_JS(void, ostrevane_page_wait, (), {
    await Module.ostrevanePage.eventArrives();
});

EM_JS(void, ostrevane_page_exited, (int code), {
    if (typeof Module === "object" && typeof Module.ostrevaneExited === "function") {
        Module.ostrevaneExited(code);
    }
});
// clang-format on

namespace platform {
namespace web {

namespace {

static_assert(sizeof(PageEvent) == 28 + 16 * 4, "the page writes the chars at offset 28");

// The page's frames are placed in 32-bit CSS pixels; keep every coordinate
// well inside them, and every side at least one pixel.
const long kMaxCoordinate = 1L << 24;

int ClampCoordinate(long value) {
    return static_cast<int>(std::clamp(value, -kMaxCoordinate, kMaxCoordinate));
}

std::uint32_t PageId(WindowId window) { return static_cast<std::uint32_t>(window); }

class WebBackend : public Backend {
public:
    void GetScreenSize(int* width, int* height) override {
        ostrevane_page_screen_size(width, height);
        *width = std::max(*width, 1);
        *height = std::max(*height, 1);
    }

    bool CreateNativeWindow(WindowId window, const char* className, const char* title,
                            const RECT& rect) override {
        if (windows_.count(window) != 0) {
            return false;
        }
        int left = ClampCoordinate(rect.left);
        int top = ClampCoordinate(rect.top);
        long width = std::clamp(static_cast<long>(rect.right) - rect.left, 1L, kMaxCoordinate);
        long height = std::clamp(static_cast<long>(rect.bottom) - rect.top, 1L, kMaxCoordinate);
        if (ostrevane_page_create(PageId(window), className != nullptr ? className : "",
                                  title != nullptr ? title : "", left, top,
                                  left + static_cast<int>(width),
                                  top + static_cast<int>(height)) == 0) {
            return false;
        }
        windows_.insert(window);
        return true;
    }

    void DestroyNativeWindow(WindowId window) override {
        if (windows_.erase(window) != 0) {
            ostrevane_page_destroy(PageId(window));
        }
    }

    void ShowNativeWindow(WindowId window, WindowShow show) override {
        if (windows_.count(window) != 0) {
            ostrevane_page_show(PageId(window), static_cast<int>(show));
        }
    }

    void Present(WindowId window, const ClientPixels& pixels, const RECT& area) override {
        // The page copies the area into the window's canvas at once.
        if (windows_.count(window) != 0) {
            ostrevane_page_put(PageId(window), pixels.rows, static_cast<int>(pixels.stride),
                               pixels.width, pixels.height, area.left, area.top, area.right,
                               area.bottom);
        }
    }

    WaitResult NextEvent(BackendEvent* event, bool wait) override {
        for (;;) {
            PageEvent raw = {};
            while (ostrevane_page_take_event(&raw) != 0) {
                if (Translate(raw, event)) {
                    return WaitResult::kEvent;
                }
            }
            if (!wait) {
                return WaitResult::kNoEvent;
            }
            // Everything presented is already on the canvases; the browser
            // shows it while we wait.
            ostrevane_page_wait();
        }
    }

private:
    // The page's event as a back-end event; false for windows we do not
    // know (already destroyed) and types we do not know.
    bool Translate(const PageEvent& raw, BackendEvent* event) {
        WindowId window = static_cast<WindowId>(static_cast<std::uint32_t>(raw.window));
        if (windows_.count(window) == 0 || raw.type < BackendEvent::kClose ||
            raw.type > BackendEvent::kDestroyed) {
            return false;
        }
        *event = BackendEvent();
        event->type = static_cast<BackendEvent::Type>(raw.type);
        event->window = window;
        event->rect = RECT{raw.left, raw.top, raw.right, raw.bottom};
        if (event->type == BackendEvent::kChars) {
            event->charCount =
                std::clamp(raw.charCount, 0, static_cast<int>(std::size(event->chars)));
            // Code points as the page typed them; the window manager maps
            // any it has no character for (beyond Unicode, surrogates) to '?'.
            std::copy(raw.chars, raw.chars + event->charCount, event->chars);
            if (event->charCount == 0) {
                return false;
            }
        }
        if (event->type == BackendEvent::kDestroyed) {
            windows_.erase(window);
        }
        return true;
    }

    std::unordered_set<WindowId> windows_;
};

}  // namespace

std::unique_ptr<Backend> OpenPage(std::string* error) {
    if (ostrevane_page_present() == 0) {
        *error = "no page to show the window on (Module.ostrevanePage is not set)";
        return nullptr;
    }
    return std::make_unique<WebBackend>();
}

void ReportExit(int code) { ostrevane_page_exited(code); }

}  // namespace web
}  // namespace platform
