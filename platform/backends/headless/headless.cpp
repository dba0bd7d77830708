// The headless display: windows that live in memory, on a virtual screen.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <utility>

#include "platform/backends/headless/headless_control.h"

namespace platform {
namespace headless {

namespace {

struct NativeWindow {
    WindowId id = 0;
    WindowView view;
};

// What the display shows of a client area after a resize: the old pixels
// at the top left, kNeverPresented elsewhere. An empty size (a window
// maximised on a screen that reports none) shows nothing.
void ResizeShown(WindowView* view, int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, kNeverPresented);
    int oldWidth = view->Width();
    int copyWidth = std::min(oldWidth, width);
    int copyHeight = copyWidth > 0 ? std::min(view->Height(), height) : 0;
    for (int y = 0; y < copyHeight; ++y) {
        std::copy_n(&view->pixels[static_cast<std::size_t>(y) * oldWidth], copyWidth,
                    &pixels[static_cast<std::size_t>(y) * width]);
    }
    view->pixels.swap(pixels);
}

class HeadlessBackend : public Backend {
public:
    HeadlessBackend(int width, int height) : screenWidth_(width), screenHeight_(height) {}

    void GetScreenSize(int* width, int* height) override {
        *width = screenWidth_;
        *height = screenHeight_;
    }

    bool CreateNativeWindow(WindowId id, const char* className, const char* title,
                            const RECT& rect) override {
        if (Find(id) != nullptr) {
            return false;
        }
        NativeWindow window;
        window.id = id;
        window.view.className = className;
        window.view.title = title;
        window.view.pixels.assign(
            static_cast<std::size_t>(rect.right - rect.left) * (rect.bottom - rect.top),
            kNeverPresented);
        window.view.rect = rect;
        windows_.push_back(std::move(window));
        return true;
    }

    void DestroyNativeWindow(WindowId id) override {
        windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                      [id](const NativeWindow& w) { return w.id == id; }),
                       windows_.end());
        events_.erase(std::remove_if(events_.begin(), events_.end(),
                                     [id](const BackendEvent& e) { return e.window == id; }),
                      events_.end());
    }

    void ShowNativeWindow(WindowId id, WindowShow show) override {
        NativeWindow* window = Find(id);
        if (window == nullptr) {
            return;
        }
        WindowShow before = window->view.show;
        window->view.show = show;
        if (show == WindowShow::kMaximized && before != WindowShow::kMaximized) {
            // A window manager gives a maximised window the whole screen;
            // like any display, never less than one pixel each way.
            RECT screen = {0, 0, std::max(screenWidth_, 1), std::max(screenHeight_, 1)};
            Configure(window, screen);
        }
    }

    void Present(WindowId id, const ClientPixels& pixels, const RECT& area) override {
        NativeWindow* window = Find(id);
        if (window == nullptr) {
            return;
        }
        WindowView& view = window->view;
        view.presented.push_back(area);
        // What the display shows may be smaller than the pixels, between a
        // resize and its report.
        int right = std::min(static_cast<int>(area.right), view.Width());
        int bottom = std::min(static_cast<int>(area.bottom), view.Height());
        for (int y = area.top; y < bottom; ++y) {
            const std::uint32_t* row = pixels.rows + static_cast<std::size_t>(y) * pixels.stride;
            for (int x = area.left; x < right; ++x) {
                view.pixels[static_cast<std::size_t>(y) * view.Width() + x] = row[x];
            }
        }
    }

    // A display in memory never goes away unseen.
    int LossGraceMilliseconds() const override { return 0; }

    WaitResult NextEvent(BackendEvent* event, bool wait) override {
        if (events_.empty() && wait && idle_) {
            // The handler may replace itself; keep it alive while it runs.
            std::function<void()> idle = idle_;
            idle();
        }
        if (events_.empty()) {
            return wait ? WaitResult::kBroken : WaitResult::kNoEvent;
        }
        *event = events_.front();
        events_.pop_front();
        return WaitResult::kEvent;
    }

    NativeWindow* Find(WindowId id) {
        for (NativeWindow& window : windows_) {
            if (window.id == id) {
                return &window;
            }
        }
        return nullptr;
    }

    bool Queue(HWND hwnd, BackendEvent event) {
        event.window = reinterpret_cast<WindowId>(hwnd);
        if (Find(event.window) == nullptr) {
            return false;
        }
        events_.push_back(event);
        return true;
    }

    void Configure(NativeWindow* window, const RECT& rect) {
        ResizeShown(&window->view, rect.right - rect.left, rect.bottom - rect.top);
        window->view.rect = rect;
        BackendEvent event;
        event.type = BackendEvent::kConfigure;
        event.window = window->id;
        event.rect = rect;
        events_.push_back(event);
    }

    int screenWidth_;
    int screenHeight_;
    std::vector<NativeWindow> windows_;
    std::deque<BackendEvent> events_;
    std::function<void()> idle_;
};

std::unique_ptr<HeadlessBackend>& Instance() {
    static std::unique_ptr<HeadlessBackend> instance;
    return instance;
}

}  // namespace

void Start(int screenWidth, int screenHeight) {
    Stop();
    Instance() = std::make_unique<HeadlessBackend>(screenWidth, screenHeight);
    InstallBackend(Instance().get());
}

void Stop() {
    ResetWindowManager();
    InstallBackend(nullptr);
    Instance().reset();
}

Backend* GetBackend() { return Instance().get(); }

void SetScreenSize(int width, int height) {
    if (Instance() != nullptr) {
        Instance()->screenWidth_ = width;
        Instance()->screenHeight_ = height;
    }
}

bool GetWindowView(HWND hwnd, WindowView* view) {
    if (Instance() == nullptr) {
        return false;
    }
    NativeWindow* window = Instance()->Find(reinterpret_cast<WindowId>(hwnd));
    if (window == nullptr) {
        return false;
    }
    *view = window->view;
    return true;
}

std::vector<HWND> Windows() {
    std::vector<HWND> result;
    if (Instance() != nullptr) {
        for (const NativeWindow& window : Instance()->windows_) {
            result.push_back(reinterpret_cast<HWND>(window.id));
        }
    }
    return result;
}

bool InjectClose(HWND hwnd) {
    BackendEvent event;
    event.type = BackendEvent::kClose;
    return Instance() != nullptr && Instance()->Queue(hwnd, event);
}

bool InjectChars(HWND hwnd, const std::u32string& chars) {
    BackendEvent event;
    event.type = BackendEvent::kChars;
    event.charCount = static_cast<int>(std::min(chars.size(), std::size(event.chars)));
    std::copy(chars.begin(), chars.begin() + event.charCount, event.chars);
    return Instance() != nullptr && Instance()->Queue(hwnd, event);
}

bool InjectConfigure(HWND hwnd, const RECT& rect) {
    if (Instance() == nullptr) {
        return false;
    }
    NativeWindow* window = Instance()->Find(reinterpret_cast<WindowId>(hwnd));
    if (window == nullptr || rect.right <= rect.left || rect.bottom <= rect.top) {
        return false;
    }
    Instance()->Configure(window, rect);
    return true;
}

bool InjectExpose(HWND hwnd, const RECT& area) {
    BackendEvent event;
    event.type = BackendEvent::kExpose;
    event.rect = area;
    return Instance() != nullptr && Instance()->Queue(hwnd, event);
}

bool InjectDestroyed(HWND hwnd) {
    if (Instance() == nullptr) {
        return false;
    }
    WindowId id = reinterpret_cast<WindowId>(hwnd);
    if (Instance()->Find(id) == nullptr) {
        return false;
    }
    Instance()->DestroyNativeWindow(id);
    BackendEvent event;
    event.type = BackendEvent::kDestroyed;
    event.window = id;
    Instance()->events_.push_back(event);
    return true;
}

void SetIdleHandler(std::function<void()> handler) {
    if (Instance() != nullptr) {
        Instance()->idle_ = std::move(handler);
    }
}

}  // namespace headless
}  // namespace platform
