// The web display.
//
// The page that loads the program is the screen: its viewport, in CSS
// pixels, is the screen size. Each Win32 window is a frame the page draws
// (caption, close button, edges to drag) around a <canvas> that holds
// exactly the client pixels, one canvas pixel per CSS pixel. The page script
// (page/ostrevane-page.js) keeps the frames and queues what the user does
// with them; this file is the thin bridge from the Backend interface to it.
// The page's other files (page/): index.html and its style, make_page.py
// that builds the page into one file, the web app manifest and the service
// worker that keeps the page for use offline.
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
#include <vector>

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

EM_JS(void, ostrevane_page_put, (std::uint32_t window, int width, int height, int areaLeft,
                                 int areaTop, int areaRight, int areaBottom, int left, int top,
                                 int right, int bottom, const std::uint32_t* rgba), {
    Module.ostrevanePage.putPixels(window >>> 0, width, height,
                                   [areaLeft, areaTop, areaRight, areaBottom],
                                   [left, top, right, bottom], HEAPU8, rgba);
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

// Pixels converted for the canvas at a time.
const std::size_t kBandPixels = 64 * 1024;

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
        if (windows_.count(window) == 0) {
            return;
        }
        // The canvas takes R, G, B, A bytes, converted a band of rows at a
        // time into a buffer that stays small. Only the ink is converted;
        // the page fills the rest of the area black.
        const RECT& ink = pixels.ink;
        RECT part = {std::max(area.left, ink.left), std::max(area.top, ink.top),
                     std::min(area.right, ink.right), std::min(area.bottom, ink.bottom)};
        if (part.right <= part.left || part.bottom <= part.top) {
            part = RECT{0, 0, 0, 0};
        }
        const std::size_t width = static_cast<std::size_t>(part.right - part.left);
        const LONG bandRows = static_cast<LONG>(
            std::max<std::size_t>(1, kBandPixels / std::max<std::size_t>(width, 1)));
        RECT band = {part.left, part.top, part.right, part.top};
        do {
            band.top = band.bottom;
            band.bottom = std::min(part.bottom, band.top + bandRows);
            rgba_.resize(width * static_cast<std::size_t>(band.bottom - band.top));
            std::uint32_t* out = rgba_.data();
            for (LONG y = band.top; y < band.bottom; ++y) {
                const std::uint32_t* row =
                    pixels.rows + static_cast<std::size_t>(y) * pixels.stride + part.left;
                for (std::size_t x = 0; x < width; ++x) {
                    const std::uint32_t v = row[x];
                    *out++ = 0xFF000000u | (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF);
                }
            }
            // The first band's call also has the page fill the area black.
            const RECT& filled = band.top == part.top ? area : band;
            ostrevane_page_put(PageId(window), pixels.width, pixels.height, filled.left, filled.top,
                               filled.right, filled.bottom, band.left, band.top, band.right,
                               band.bottom, rgba_.data());
        } while (band.bottom < part.bottom);
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
    std::vector<std::uint32_t> rgba_;  // the pixels being presented, as the canvas takes them
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
