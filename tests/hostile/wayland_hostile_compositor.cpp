// A Wayland compositor that misbehaves, for the hostile tests of the
// Wayland display: just enough of wl_compositor, wl_shm, xdg_wm_base,
// wl_seat and wl_output (through libwayland-server) to map a window, and
// then, depending on the mode:
//   sizes: outputs of no, negative and enormous size and scale, configures of absurd sizes
//     and states, broken keymaps (wrong format, a size beyond the file, garbage), and key and
//     modifier events with arbitrary codes.
//   protocol-error: a protocol error on the window's xdg_surface once it shows a buffer.
//   close: xdg_toplevel.close once the window shows a buffer.
//   close-decorated: the same, with wl_subcompositor offered and no xdg-decoration, so that
//     libdecor frames the window.
//   client-side-decorations: xdg-decoration offered, but every request for server-side
//     decorations answered with client-side ones; prints "subsurface" when a frame is drawn
//     (libdecor), then closes the window as `close` does.
//   never-release: frame callbacks and buffers are never released.
//   keeps-buffers: a buffer is released only once the next one is shown, not when it is
//     replaced (a null attach included), and one whose pixels changed meanwhile is a protocol
//     error ("written while held"); the window is typed 'c' at, a few times after it shows a
//     buffer (tests/e2e/show_states then paints it again at the same size, in another
//     colour); "kept N" is printed once N buffers were released unchanged after being held.
//   anything else: none of that (for the program's own limits).
//
// Usage: wayland_hostile_compositor SOCKET MODE [SEED]
// Requests are handled by one dispatcher by name: every request of every
// object is accepted, objects are made for every new id, and destructors
// destroy.
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-server.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "xdg-decoration-unstable-v1-server-protocol.h"
#include "xdg-shell-server-protocol.h"

namespace {

// A client's shared memory pool, as mapped here; its buffers keep it.
struct Pool {
    Pool(void* data, std::size_t size) : data(data), size(size) {}
    ~Pool() {
        if (data != MAP_FAILED) munmap(data, size);
    }
    void* data;
    std::size_t size;
};

// Where a buffer's pixels are, and what they were when it was last shown;
// `resource` is null once the client has destroyed it.
struct Buffer {
    wl_resource* resource = nullptr;
    std::shared_ptr<Pool> pool;
    std::size_t offset = 0;
    std::size_t bytes = 0;
    bool shown = false;  // shown, and not released since
    std::uint64_t shownHash = 0;
};

struct Compositor {
    wl_display* display = nullptr;
    std::string mode;
    std::mt19937 random;
    std::uint32_t serial = 1;
    wl_resource* surface = nullptr;  // the last surface given a toplevel
    wl_resource* xdgSurface = nullptr;
    wl_resource* toplevel = nullptr;
    bool configured = false;
    bool hostileDone = false;
    bool framed = false;  // a subsurface was made (client-side decorations)
    int bufferCommits = 0;
    std::vector<wl_resource*> frames;
    wl_resource* shownBuffer = nullptr;
    std::vector<wl_resource*> keyboards;
    std::map<wl_resource*, std::shared_ptr<Pool>> pools;
    std::map<wl_resource*, Buffer> buffers;
    std::vector<Buffer> held;  // replaced, not yet released
    int keptUnchanged = 0;
    int keysTyped = 0;
};

Compositor compositor;

int Dispatch(const void*, void* target, std::uint32_t opcode, const wl_message* message,
             wl_argument* args);
void Forget(wl_resource* resource);

wl_resource* Make(wl_client* client, const wl_interface* interface, int version, std::uint32_t id) {
    wl_resource* resource =
        wl_resource_create(client, interface, std::min(version, interface->version), id);
    if (resource != nullptr) {
        wl_resource_set_dispatcher(resource, Dispatch, nullptr, nullptr, Forget);
    }
    return resource;
}

// Objects go when their client asks, or when it goes.
void Forget(wl_resource* resource) {
    Compositor& c = compositor;
    if (resource == c.surface) c.surface = nullptr;
    if (resource == c.xdgSurface) c.xdgSurface = nullptr;
    if (resource == c.toplevel) c.toplevel = nullptr;
    if (resource == c.shownBuffer) c.shownBuffer = nullptr;
    c.pools.erase(resource);
    c.buffers.erase(resource);
    // A held buffer the client destroys is still looked at, as a
    // compositor that holds it still reads it.
    for (Buffer& buffer : c.held) {
        if (buffer.resource == resource) buffer.resource = nullptr;
    }
    for (auto* list : {&c.frames, &c.keyboards}) {
        for (auto it = list->begin(); it != list->end();) {
            it = *it == resource ? list->erase(it) : it + 1;
        }
    }
}

int MakeFile(const std::string& contents) {
    int fd = memfd_create("hostile-keymap", MFD_CLOEXEC);
    if (fd >= 0 && write(fd, contents.data(), contents.size()) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void SendConfigure(std::int32_t width, std::int32_t height,
                   const std::vector<std::uint32_t>& states) {
    Compositor& c = compositor;
    if (c.toplevel == nullptr || c.xdgSurface == nullptr) {
        return;
    }
    wl_array array;
    wl_array_init(&array);
    for (std::uint32_t state : states) {
        auto* slot = static_cast<std::uint32_t*>(wl_array_add(&array, sizeof(state)));
        if (slot != nullptr) *slot = state;
    }
    wl_resource_post_event(c.toplevel, XDG_TOPLEVEL_CONFIGURE, width, height, &array);
    wl_array_release(&array);
    wl_resource_post_event(c.xdgSurface, XDG_SURFACE_CONFIGURE, c.serial++);
}

// Keymaps that must be refused, key events the program must survive.
void HostileKeyboard(wl_resource* keyboard) {
    Compositor& c = compositor;
    int fd = MakeFile("xkb_keymap { garbage");
    if (fd >= 0) {
        wl_keyboard_send_keymap(keyboard, 7, fd, 20);  // an unknown format
        wl_keyboard_send_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, 1u << 30);
        wl_keyboard_send_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, 20);
        close(fd);
    }
    std::string random(4096, ' ');
    // Garbage with no NUL in it, one page of it: said to be two pages, a
    // reader past the end of the file would meet SIGBUS.
    for (char& ch : random) ch = static_cast<char>(1 + c.random() % 255);
    fd = MakeFile(random);
    if (fd >= 0) {
        wl_keyboard_send_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, 8192);
        wl_keyboard_send_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, 4096);
        close(fd);
    }
    if (c.surface != nullptr &&
        wl_resource_get_client(c.surface) == wl_resource_get_client(keyboard)) {
        wl_array keys;
        wl_array_init(&keys);
        wl_keyboard_send_enter(keyboard, c.serial++, c.surface, &keys);
        wl_array_release(&keys);
    }
    for (int i = 0; i < 200; ++i) {
        std::uint32_t key =
            i % 3 == 0 ? static_cast<std::uint32_t>(c.random()) : 1 + c.random() % 120;
        wl_keyboard_send_modifiers(keyboard, c.serial++, c.random(), c.random(), c.random(),
                                   c.random());
        wl_keyboard_send_key(keyboard, c.serial++, i, key, c.random() % 3);
    }
    wl_keyboard_send_leave(keyboard, c.serial++, c.surface);
}

void HostileSizes() {
    static const std::int32_t sides[] = {0, -1, 1, INT_MAX, INT_MIN, 16385, 3, 100000, 200};
    std::int32_t width = sides[compositor.random() % 9];
    std::int32_t height = sides[compositor.random() % 9];
    std::vector<std::uint32_t> states;
    for (unsigned i = compositor.random() % 6; i > 0; --i) {
        states.push_back(compositor.random() % 12);
    }
    SendConfigure(width, height, states);
}

// The buffer's pixels now (FNV-1a), or 0 where they cannot be read.
std::uint64_t HashPixels(const Buffer& buffer) {
    const Pool* pool = buffer.pool.get();
    if (pool == nullptr || pool->data == MAP_FAILED || buffer.offset > pool->size ||
        buffer.bytes > pool->size - buffer.offset) {
        return 0;
    }
    const auto* bytes = static_cast<const unsigned char*>(pool->data) + buffer.offset;
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < buffer.bytes; ++i) {
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    }
    return hash;
}

// keeps-buffers: the client wrote into a buffer the compositor holds.
void WrittenWhileHeld() {
    std::printf("written while held\n");
    std::fflush(stdout);
    if (compositor.surface != nullptr) {
        wl_resource_post_error(compositor.surface, 0,
                               "hostile compositor: a buffer was written while it was held");
    }
}

// keeps-buffers: what was replaced is released now that another buffer is
// shown, once its pixels are found unchanged since it was shown.
void ReleaseHeld() {
    Compositor& c = compositor;
    for (const Buffer& buffer : c.held) {
        if (HashPixels(buffer) != buffer.shownHash) {
            WrittenWhileHeld();
            return;
        }
        if (buffer.resource != nullptr) {
            wl_buffer_send_release(buffer.resource);
            c.buffers[buffer.resource].shown = false;
        }
        if (++c.keptUnchanged == 3) {
            std::printf("kept 3\n");
            std::fflush(stdout);
        }
    }
    c.held.clear();
}

// A US keymap, and the key 'c' typed into the window.
void TypeC(wl_resource* keyboard) {
    Compositor& c = compositor;
    if (c.surface == nullptr ||
        wl_resource_get_client(c.surface) != wl_resource_get_client(keyboard)) {
        return;
    }
    wl_array keys;
    wl_array_init(&keys);
    wl_keyboard_send_enter(keyboard, c.serial++, c.surface, &keys);
    wl_array_release(&keys);
    wl_keyboard_send_modifiers(keyboard, c.serial++, 0, 0, 0, 0);
    wl_keyboard_send_key(keyboard, c.serial++, 0, KEY_C, WL_KEYBOARD_KEY_STATE_PRESSED);
    wl_keyboard_send_key(keyboard, c.serial++, 0, KEY_C, WL_KEYBOARD_KEY_STATE_RELEASED);
}

void SendUsKeymap(wl_resource* keyboard) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap =
        context != nullptr ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS)
                           : nullptr;
    char* text =
        keymap != nullptr ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
    if (text != nullptr) {
        int fd = MakeFile(std::string(text, std::strlen(text) + 1));
        if (fd >= 0) {
            wl_keyboard_send_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                    static_cast<std::uint32_t>(std::strlen(text) + 1));
            close(fd);
        }
        std::free(text);
    }
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
}

void OnCommit() {
    Compositor& c = compositor;
    if (c.toplevel != nullptr && !c.configured) {
        c.configured = true;
        SendConfigure(0, 0, {});
        return;
    }
    for (wl_resource* frame : c.frames) {
        if (c.mode != "never-release") {
            wl_callback_send_done(frame, 0);
            wl_resource_destroy(frame);
        }
    }
    if (c.mode != "never-release") {
        c.frames.clear();
    }
    ++c.bufferCommits;
    auto shown = c.buffers.find(c.shownBuffer);
    if (c.mode == "keeps-buffers" && shown != c.buffers.end()) {
        // Shown again before its release, it must hold what it was shown
        // with: the compositor may be reading it still.
        const std::uint64_t hash = HashPixels(shown->second);
        if (shown->second.shown && hash != shown->second.shownHash) {
            WrittenWhileHeld();
            return;
        }
        shown->second.shown = true;
        shown->second.shownHash = hash;
        ReleaseHeld();
        if (c.keysTyped < 5) {
            ++c.keysTyped;
            for (wl_resource* keyboard : c.keyboards) {
                TypeC(keyboard);
            }
        }
    }
    if (c.mode == "protocol-error" && c.xdgSurface != nullptr) {
        wl_resource_post_error(c.xdgSurface, XDG_SURFACE_ERROR_UNCONFIGURED_BUFFER,
                               "hostile compositor: this buffer is refused");
    } else if ((c.mode == "close" || c.mode == "close-decorated" ||
                (c.mode == "client-side-decorations" && c.framed)) &&
               c.toplevel != nullptr) {
        wl_resource_post_event(c.toplevel, XDG_TOPLEVEL_CLOSE);
    } else if (c.mode == "sizes" && c.bufferCommits < 40) {
        HostileSizes();
        if (!c.hostileDone) {
            c.hostileDone = true;
            for (wl_resource* keyboard : c.keyboards) {
                HostileKeyboard(keyboard);
            }
        }
    }
}

int Dispatch(const void*, void* target, std::uint32_t, const wl_message* message,
             wl_argument* args) {
    auto* resource = static_cast<wl_resource*>(target);
    wl_client* client = wl_resource_get_client(resource);
    std::string name = message->name;
    std::string kind = wl_resource_get_class(resource);
    int version = wl_resource_get_version(resource);

    // Arguments in signature order; make an object for every new id.
    std::vector<wl_resource*> made;
    int index = 0;
    for (const char* sig = message->signature; *sig != '\0'; ++sig) {
        if ((*sig >= '0' && *sig <= '9') || *sig == '?') continue;
        if (*sig == 'n' && message->types[index] != nullptr) {
            made.push_back(Make(client, message->types[index], version, args[index].n));
        }
        ++index;
    }
    // The pools' memory and where each buffer lies in it.
    if (kind == "wl_shm" && name == "create_pool" && !made.empty() && made[0] != nullptr) {
        auto size = static_cast<std::size_t>(std::max(args[2].i, 0));
        compositor.pools[made[0]] =
            std::make_shared<Pool>(mmap(nullptr, size, PROT_READ, MAP_SHARED, args[1].h, 0), size);
    } else if (kind == "wl_shm_pool" && name == "create_buffer" && !made.empty() &&
               made[0] != nullptr && args[1].i >= 0 && args[3].i > 0 && args[4].i > 0) {
        Buffer buffer;
        buffer.resource = made[0];
        buffer.pool = compositor.pools[resource];
        buffer.offset = static_cast<std::size_t>(args[1].i);
        buffer.bytes = static_cast<std::size_t>(args[4].i) * static_cast<std::size_t>(args[3].i);
        compositor.buffers[made[0]] = buffer;
    }
    index = 0;
    for (const char* sig = message->signature; *sig != '\0'; ++sig) {
        if ((*sig >= '0' && *sig <= '9') || *sig == '?') continue;
        if (*sig == 'h') close(args[index].h);
        ++index;
    }

    if (name == "destroy" || name == "release") {
        wl_resource_destroy(resource);
    } else if (kind == "wl_surface" && name == "frame" && !made.empty()) {
        compositor.frames.push_back(made[0]);
    } else if (kind == "wl_surface" && name == "attach") {
        auto* buffer = reinterpret_cast<wl_resource*>(args[0].o);
        if (compositor.shownBuffer != nullptr && compositor.shownBuffer != buffer) {
            auto replaced = compositor.buffers.find(compositor.shownBuffer);
            if (compositor.mode == "keeps-buffers" && replaced != compositor.buffers.end()) {
                compositor.held.push_back(replaced->second);
            } else if (compositor.mode != "never-release") {
                wl_buffer_send_release(compositor.shownBuffer);
            }
        }
        compositor.shownBuffer = buffer;
    } else if (kind == "wl_surface" && name == "commit") {
        if (resource == compositor.surface) OnCommit();
    } else if (kind == "xdg_wm_base" && name == "get_xdg_surface" && !made.empty()) {
        compositor.xdgSurface = made[0];
        compositor.surface = reinterpret_cast<wl_resource*>(args[1].o);
        compositor.configured = false;
    } else if (kind == "xdg_surface" && name == "get_toplevel" && !made.empty()) {
        compositor.toplevel = made[0];
    } else if (kind == "zxdg_toplevel_decoration_v1" && name == "set_mode") {
        wl_resource_post_event(resource, ZXDG_TOPLEVEL_DECORATION_V1_CONFIGURE,
                               ZXDG_TOPLEVEL_DECORATION_V1_MODE_CLIENT_SIDE);
    } else if (kind == "wl_subcompositor" && name == "get_subsurface") {
        if (!compositor.framed) {
            std::printf("subsurface\n");
            std::fflush(stdout);
        }
        compositor.framed = true;
    } else if (kind == "wl_seat" && name == "get_keyboard" && !made.empty()) {
        compositor.keyboards.push_back(made[0]);
        if (compositor.mode == "keeps-buffers") {
            SendUsKeymap(made[0]);
        }
    }
    return 0;
}

void BindShm(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
    wl_resource* shm = Make(client, &wl_shm_interface, static_cast<int>(version), id);
    wl_shm_send_format(shm, WL_SHM_FORMAT_XRGB8888);
    wl_shm_send_format(shm, WL_SHM_FORMAT_ARGB8888);
}

void BindSeat(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
    wl_resource* seat = Make(client, &wl_seat_interface, static_cast<int>(version), id);
    wl_seat_send_capabilities(seat, WL_SEAT_CAPABILITY_KEYBOARD);
}

void BindOutput(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
    wl_resource* output = Make(client, &wl_output_interface, static_cast<int>(version), id);
    if (compositor.mode == "sizes") {
        // Modes of no, negative and enormous size; the last current one wins.
        wl_output_send_geometry(output, 0, 0, -5, -5, 0, "hostile", "hostile", 1);
        wl_output_send_mode(output, WL_OUTPUT_MODE_CURRENT, 0, 0, 0);
        wl_output_send_mode(output, WL_OUTPUT_MODE_CURRENT, -640, 480, -1);
        wl_output_send_mode(output, WL_OUTPUT_MODE_CURRENT, INT_MAX, INT_MAX, INT_MAX);
        wl_output_send_scale(output, 0);
        wl_output_send_scale(output, -3);
    } else {
        wl_output_send_geometry(output, 0, 0, 300, 200, 0, "hostile", "hostile", 0);
        wl_output_send_mode(output, WL_OUTPUT_MODE_CURRENT, 640, 480, 60000);
        wl_output_send_scale(output, 1);
    }
    wl_output_send_done(output);
}

void BindPlain(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
    Make(client, static_cast<const wl_interface*>(data), static_cast<int>(version), id);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wayland_hostile_compositor SOCKET MODE [SEED]\n");
        return 2;
    }
    compositor.mode = argv[2];
    compositor.random.seed(argc > 3 ? static_cast<unsigned>(std::stoul(argv[3])) : 1u);
    compositor.display = wl_display_create();
    if (compositor.display == nullptr || wl_display_add_socket(compositor.display, argv[1]) != 0) {
        std::fprintf(stderr, "wayland_hostile_compositor: cannot make socket %s\n", argv[1]);
        return 1;
    }
    wl_global_create(compositor.display, &wl_compositor_interface, 4,
                     const_cast<wl_interface*>(&wl_compositor_interface), BindPlain);
    wl_global_create(compositor.display, &wl_shm_interface, 1, nullptr, BindShm);
    wl_global_create(compositor.display, &xdg_wm_base_interface, 2,
                     const_cast<wl_interface*>(&xdg_wm_base_interface), BindPlain);
    wl_global_create(compositor.display, &wl_seat_interface, 5, nullptr, BindSeat);
    wl_global_create(compositor.display, &wl_output_interface, 3, nullptr, BindOutput);
    if (compositor.mode == "client-side-decorations") {
        wl_global_create(compositor.display, &zxdg_decoration_manager_v1_interface, 1,
                         const_cast<wl_interface*>(&zxdg_decoration_manager_v1_interface),
                         BindPlain);
    }
    if (compositor.mode == "close-decorated" || compositor.mode == "client-side-decorations") {
        wl_global_create(compositor.display, &wl_subcompositor_interface, 1,
                         const_cast<wl_interface*>(&wl_subcompositor_interface), BindPlain);
    }
    wl_display_run(compositor.display);
    wl_display_destroy(compositor.display);
    return 0;
}
