// The seat's keyboard: the compositor's keymap, the characters typed into
// the focused window (as Unicode code points), and key repeat at the
// compositor's rate and delay, timed by the event loop's wait.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/backends/wayland/wayland_display.h"

namespace platform {
namespace wayland {

namespace {

// Keymaps are tens of kilobytes; a larger one is refused.
const std::uint32_t kMaxKeymapBytes = 16u << 20;
// Held to what a loop can keep up with, whatever the compositor asks for.
const int kMaxRepeatRate = 1000;
const int kMaxRepeatDelay = 60000;

// The compose table of the user's locale (as setlocale would choose it),
// read when the first key is typed: it takes longer than the rest of the
// keyboard's start.
void LoadComposeTable(WaylandBackend* self) {
    self->composeTried_ = true;
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        locale = std::getenv(name);
        if (locale != nullptr && locale[0] != '\0') {
            break;
        }
        locale = nullptr;
    }
    self->composeTable_.reset(xkb_compose_table_new_from_locale(
        self->xkbContext_.get(), locale != nullptr ? locale : "C", XKB_COMPOSE_COMPILE_NO_FLAGS));
    if (self->composeTable_ != nullptr) {
        self->composeState_.reset(
            xkb_compose_state_new(self->composeTable_.get(), XKB_COMPOSE_STATE_NO_FLAGS));
    }
}

// The character `key` (an evdev code) types in the current state of the
// modifiers, 0 if none. With `compose`, the key goes through the compose
// sequence under way: a dead key, or a key that only continues a sequence,
// types nothing; the one that ends it types the sequence's character.
char32_t KeyCharacter(WaylandBackend* self, std::uint32_t key, bool compose) {
    if (compose && !self->composeTried_) {
        LoadComposeTable(self);
    }
    // Evdev key codes are XKB's less 8.
    xkb_compose_state* sequence = compose ? self->composeState_.get() : nullptr;
    if (sequence != nullptr &&
        xkb_compose_state_feed(sequence,
                               xkb_state_key_get_one_sym(self->xkbState_.get(), key + 8)) ==
            XKB_COMPOSE_FEED_ACCEPTED) {
        switch (xkb_compose_state_get_status(sequence)) {
            case XKB_COMPOSE_COMPOSING:
                return 0;
            case XKB_COMPOSE_COMPOSED: {
                char32_t composed = xkb_keysym_to_utf32(xkb_compose_state_get_one_sym(sequence));
                xkb_compose_state_reset(sequence);
                return composed;
            }
            case XKB_COMPOSE_CANCELLED:
                xkb_compose_state_reset(sequence);
                return 0;
            case XKB_COMPOSE_NOTHING:
                break;
        }
    }
    return xkb_state_key_get_utf32(self->xkbState_.get(), key + 8);
}

// Queues what `key` types into `window`, if anything.
void TypeKey(WaylandBackend* self, WindowId window, std::uint32_t key, bool compose) {
    const char32_t codePoint = KeyCharacter(self, key, compose);
    if (codePoint == 0) {
        return;  // no character: a modifier, a function key, a dead key
    }
    BackendEvent event;
    event.type = BackendEvent::kChars;
    event.window = window;
    event.chars[0] = codePoint;
    event.charCount = 1;
    self->Queue(event);
}

void KeyboardHandleKeymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                          std::uint32_t size) {
    auto* self = static_cast<WaylandBackend*>(data);
    // The map must be what the compositor says: reading a mapping past the
    // end of its file would raise SIGBUS.
    struct stat file;
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || size == 0 || size > kMaxKeymapBytes ||
        fstat(fd, &file) != 0 || file.st_size < static_cast<off_t>(size)) {
        close(fd);
        return;
    }
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (text == MAP_FAILED) {
        return;
    }
    if (self->xkbContext_ == nullptr) {
        self->xkbContext_.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        // A keymap that cannot be read leaves typing without characters;
        // xkbcommon's diagnostics of it are no business of stderr.
        if (self->xkbContext_ != nullptr) {
            xkb_context_set_log_fn(self->xkbContext_.get(),
                                   [](xkb_context*, xkb_log_level, const char*, va_list) {});
        }
    }
    Owned<xkb_keymap> keymap;
    if (self->xkbContext_ != nullptr) {
        // The map is NUL-terminated within `size`; a hostile one may not be.
        keymap.reset(
            xkb_keymap_new_from_buffer(self->xkbContext_.get(), static_cast<const char*>(text),
                                       strnlen(static_cast<const char*>(text), size),
                                       XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    }
    munmap(text, size);
    if (keymap == nullptr) {
        return;
    }
    Owned<xkb_state> state(xkb_state_new(keymap.get()));
    if (state == nullptr) {
        return;
    }
    self->StopKeyRepeat();
    self->xkbState_ = std::move(state);
    self->xkbKeymap_ = std::move(keymap);
}

void KeyboardHandleEnter(void* data, wl_keyboard*, std::uint32_t, wl_surface* surface, wl_array*) {
    auto* self = static_cast<WaylandBackend*>(data);
    NativeWindow* window = self->FindBySurface(surface);
    self->focus_ = window != nullptr ? window->id : 0;
}

void KeyboardHandleLeave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
    auto* self = static_cast<WaylandBackend*>(data);
    self->focus_ = 0;
    self->StopKeyRepeat();
    // A sequence begun in one window does not end in another.
    if (self->composeState_ != nullptr) {
        xkb_compose_state_reset(self->composeState_.get());
    }
}

void KeyboardHandleKey(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
                       std::uint32_t state) {
    auto* self = static_cast<WaylandBackend*>(data);
    if (state != WL_KEYBOARD_KEY_STATE_PRESSED) {
        if (self->repeatWindow_ != 0 && key == self->repeatKey_) {
            self->StopKeyRepeat();
        }
        return;
    }
    if (self->focus_ == 0 || self->xkbState_ == nullptr || key > 0xFFFF) {
        return;
    }
    TypeKey(self, self->focus_, key, true);
    // As on X, the last key pressed repeats; modifiers do not.
    if (xkb_keymap_key_repeats(self->xkbKeymap_.get(), key + 8) != 0) {
        self->StopKeyRepeat();
        if (self->repeatRate_ > 0) {
            self->repeatKey_ = key;
            self->repeatWindow_ = self->focus_;
            self->nextRepeat_ =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(self->repeatDelay_);
        }
    }
}

void KeyboardHandleModifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                             std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
    auto* self = static_cast<WaylandBackend*>(data);
    if (self->xkbState_ != nullptr) {
        xkb_state_update_mask(self->xkbState_.get(), depressed, latched, locked, 0, 0, group);
    }
}

void KeyboardHandleRepeatInfo(void* data, wl_keyboard*, std::int32_t rate, std::int32_t delay) {
    auto* self = static_cast<WaylandBackend*>(data);
    self->repeatRate_ = std::clamp(rate, 0, kMaxRepeatRate);
    self->repeatDelay_ = std::clamp(delay, 0, kMaxRepeatDelay);
    if (self->repeatRate_ == 0) {
        self->StopKeyRepeat();
    }
}

const wl_keyboard_listener kKeyboardListener = {KeyboardHandleKeymap,    KeyboardHandleEnter,
                                                KeyboardHandleLeave,     KeyboardHandleKey,
                                                KeyboardHandleModifiers, KeyboardHandleRepeatInfo};

void SeatHandleCapabilities(void* data, wl_seat*, std::uint32_t capabilities) {
    static_cast<WaylandBackend*>(data)->SeatCapabilities(capabilities);
}

void SeatHandleName(void*, wl_seat*, const char*) {}

const wl_seat_listener kSeatListener = {SeatHandleCapabilities, SeatHandleName};

}  // namespace

void WaylandBackend::BindSeat(wl_registry* registry, std::uint32_t name, std::uint32_t version) {
    seat_.reset(static_cast<wl_seat*>(
        wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 5u))));
    wl_seat_add_listener(seat_.get(), &kSeatListener, this);
}

void WaylandBackend::SeatCapabilities(std::uint32_t capabilities) {
    bool keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    if (keyboard && keyboard_ == nullptr) {
        keyboard_.reset(wl_seat_get_keyboard(seat_.get()));
        wl_keyboard_add_listener(keyboard_.get(), &kKeyboardListener, this);
    } else if (!keyboard && keyboard_ != nullptr) {
        keyboard_.reset();
        focus_ = 0;
        StopKeyRepeat();
    }
}

void WaylandBackend::StopKeyRepeat() { repeatWindow_ = 0; }

int WaylandBackend::KeyRepeatTimeout() const {
    if (repeatWindow_ == 0) {
        return -1;
    }
    auto left = std::chrono::ceil<std::chrono::milliseconds>(nextRepeat_ -
                                                             std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, kMaxRepeatDelay));
}

void WaylandBackend::QueueKeyRepeats() {
    if (repeatWindow_ == 0) {
        return;
    }
    // The keyboard went elsewhere (an enter without a leave), or the repeat
    // was turned off: the wait must not keep timing out for nothing.
    if (repeatWindow_ != focus_ || xkbState_ == nullptr || repeatRate_ <= 0) {
        StopKeyRepeat();
        return;
    }
    auto now = std::chrono::steady_clock::now();
    if (now < nextRepeat_) {
        return;
    }
    TypeKey(this, repeatWindow_, repeatKey_, false);
    // One character per interval; a loop that fell behind does not catch
    // up in a burst.
    auto interval = std::chrono::microseconds(1000000 / repeatRate_);
    nextRepeat_ = std::max(nextRepeat_ + interval, now + interval / 2);
}

}  // namespace wayland
}  // namespace platform
