// The window slot table, handle checks and the window manager's reset.
#include <algorithm>
#include <chrono>

#include "platform/user/window_manager.h"

namespace platform {
namespace user {

namespace {

// Slot indexes start here so that small integers never pass for a window.
const std::uintptr_t kIndexBase = 0x20;
const std::size_t kMaxWindows = 0xFFFF - kIndexBase;

HWND MakeHandle(std::size_t index, std::uint16_t generation) {
    std::uintptr_t value = (static_cast<std::uintptr_t>(generation) << 16) | (index + kIndexBase);
    return reinterpret_cast<HWND>(value);
}

bool DecodeHandle(HWND hwnd, std::size_t* index, std::uint16_t* generation) {
    std::uintptr_t value = reinterpret_cast<std::uintptr_t>(hwnd);
    if (value > 0xFFFFFFFFu) {
        return false;
    }
    std::uintptr_t low = value & 0xFFFF;
    if (low < kIndexBase) {
        return false;
    }
    *index = low - kIndexBase;
    *generation = static_cast<std::uint16_t>(value >> 16);
    return *generation != 0;
}

}  // namespace

State& GetState() {
    static State state;
    return state;
}

WindowRecord* FindWindowRecord(HWND hwnd) {
    std::size_t index = 0;
    std::uint16_t generation = 0;
    if (!DecodeHandle(hwnd, &index, &generation)) {
        return nullptr;
    }
    State& state = GetState();
    if (index >= state.slots.size() || state.generations[index] != generation) {
        return nullptr;
    }
    return state.slots[index].get();
}

WindowRecord* AllocateWindowRecord() {
    State& state = GetState();
    std::size_t index = 0;
    while (index < state.slots.size() && state.slots[index] != nullptr) {
        ++index;
    }
    if (index == state.slots.size()) {
        if (index >= kMaxWindows) {
            return nullptr;
        }
        state.slots.emplace_back();
        state.generations.push_back(1);
    }
    state.slots[index] = std::make_unique<WindowRecord>();
    state.slots[index]->hwnd = MakeHandle(index, state.generations[index]);
    return state.slots[index].get();
}

void FreeWindowRecord(HWND hwnd) {
    std::size_t index = 0;
    std::uint16_t generation = 0;
    if (!DecodeHandle(hwnd, &index, &generation)) {
        return;
    }
    State& state = GetState();
    if (index >= state.slots.size() || state.generations[index] != generation) {
        return;
    }
    state.slots[index].reset();
    // A new generation makes every copy of the old handle stale; 0 is never
    // a valid generation.
    std::uint16_t next = static_cast<std::uint16_t>(generation + 1);
    state.generations[index] = next == 0 ? 1 : next;
}

DWORD MessageTime() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

RECT IntersectRects(const RECT& a, const RECT& b) {
    RECT r = {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
    if (RectEmpty(r)) {
        r = RECT{0, 0, 0, 0};
    }
    return r;
}

RECT UnionRects(const RECT& a, const RECT& b) {
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

RECT BoundingRect(const std::vector<RECT>& rects) {
    if (rects.empty()) {
        return RECT{0, 0, 0, 0};
    }
    RECT bounds = rects[0];
    for (const RECT& rect : rects) {
        bounds = UnionRects(bounds, rect);
    }
    return bounds;
}

}  // namespace user

void InstallBackend(Backend* backend) { user::GetState().backend = backend; }

void ResetWindowManager() {
    user::State& state = user::GetState();
    for (std::unique_ptr<user::WindowRecord>& slot : state.slots) {
        if (slot == nullptr) {
            continue;
        }
        HWND hwnd = slot->hwnd;
        user::ReleaseWindowSurface(slot.get());
        if (state.backend != nullptr && !slot->nativeGone) {
            state.backend->DestroyNativeWindow(reinterpret_cast<WindowId>(hwnd));
        }
        user::FreeWindowRecord(hwnd);
    }
    for (const user::PaintContext& paint : state.paints) {
        DeleteDC(paint.hdc);
    }
    state.paints.clear();
    state.classes.clear();
    user::ResetMessageQueue();
}

}  // namespace platform
