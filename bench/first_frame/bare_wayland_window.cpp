// The Wayland first-frame baseline: the least a wl_shm client does to show
// the picture ostrevane shows. Like ostrevane's window its surface is three
// quarters of the output each way. It makes an xdg_toplevel, fills one
// XRGB8888 wl_shm buffer of that size with a picture (every pixel written
// once: black, and a red diagonal) while the first configure is on its way,
// then attaches it, damages all of it, asks for a frame callback and
// commits. It runs until xdg_toplevel.close or a signal.
//
// It draws no decorations, unless given --libdecor: then its surface gets
// libdecor's frame, as ostrevane's does on a compositor without server-side
// decorations (weston), and the frame's first configure comes through
// libdecor.
//
//   bare_wayland_window [--libdecor]
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "xdg-shell-client-protocol.h"

#if OSTREVANE_HAVE_LIBDECOR
#include <libdecor.h>
#endif

namespace {

struct Client {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wl_output* output = nullptr;
    int outputWidth = 0;
    int outputHeight = 0;
    bool configured = false;
    int configureWidth = 0;
    int configureHeight = 0;
    bool closed = false;
    bool frameDone = false;
};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* kind,
              std::uint32_t version) {
    auto* client = static_cast<Client*>(data);
    if (std::strcmp(kind, wl_compositor_interface.name) == 0) {
        client->compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, version < 4 ? version : 4));
    } else if (std::strcmp(kind, wl_shm_interface.name) == 0) {
        client->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (std::strcmp(kind, xdg_wm_base_interface.name) == 0) {
        client->wmBase =
            static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    } else if (std::strcmp(kind, wl_output_interface.name) == 0 && client->output == nullptr) {
        client->output = static_cast<wl_output*>(
            wl_registry_bind(registry, name, &wl_output_interface, version < 2 ? version : 2));
    }
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

void OnOutputGeometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                      std::int32_t, const char*, const char*, std::int32_t) {}
void OnOutputMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width,
                  std::int32_t height, std::int32_t) {
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
        static_cast<Client*>(data)->outputWidth = width;
        static_cast<Client*>(data)->outputHeight = height;
    }
}
void OnOutputDone(void*, wl_output*) {}
void OnOutputScale(void*, wl_output*, std::int32_t) {}
// name and description come only at version 4, which is not bound.
const wl_output_listener kOutputListener = {OnOutputGeometry, OnOutputMode, OnOutputDone,
                                            OnOutputScale,    nullptr,      nullptr};

void OnPing(void*, xdg_wm_base* wmBase, std::uint32_t serial) { xdg_wm_base_pong(wmBase, serial); }
const xdg_wm_base_listener kWmBaseListener = {OnPing};

void OnSurfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
    xdg_surface_ack_configure(surface, serial);
    static_cast<Client*>(data)->configured = true;
}
const xdg_surface_listener kSurfaceListener = {OnSurfaceConfigure};

void OnToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                         wl_array*) {
    static_cast<Client*>(data)->configureWidth = width;
    static_cast<Client*>(data)->configureHeight = height;
}
void OnToplevelClose(void* data, xdg_toplevel*) { static_cast<Client*>(data)->closed = true; }
// Version 1 is bound: no configure_bounds, no wm_capabilities.
const xdg_toplevel_listener kToplevelListener = {OnToplevelConfigure, OnToplevelClose, nullptr,
                                                 nullptr};

void OnFrameDone(void* data, wl_callback* callback, std::uint32_t) {
    wl_callback_destroy(callback);
    static_cast<Client*>(data)->frameDone = true;
}
const wl_callback_listener kFrameListener = {OnFrameDone};

#if OSTREVANE_HAVE_LIBDECOR
int wantedWidth = 0;  // the size asked for where the compositor leaves it open
int wantedHeight = 0;

void OnDecorError(libdecor*, libdecor_error, const char* message) {
    std::fprintf(stderr, "bare_wayland_window: libdecor: %s\n", message);
}
void OnDecorConfigure(libdecor_frame* frame, libdecor_configuration* configuration, void* data) {
    auto* client = static_cast<Client*>(data);
    int width = 0;
    int height = 0;
    if (!libdecor_configuration_get_content_size(configuration, frame, &width, &height) ||
        width <= 0 || height <= 0) {
        width = wantedWidth;
        height = wantedHeight;
    }
    libdecor_state* state = libdecor_state_new(width, height);
    libdecor_frame_commit(frame, state, configuration);
    libdecor_state_free(state);
    client->configureWidth = width;
    client->configureHeight = height;
    client->configured = true;
}
void OnDecorClose(libdecor_frame*, void* data) { static_cast<Client*>(data)->closed = true; }
wl_surface* decoratedSurface = nullptr;
void OnDecorCommit(libdecor_frame*, void*) { wl_surface_commit(decoratedSurface); }
#endif

struct Picture {
    wl_buffer* buffer = nullptr;
    int width = 0;
    int height = 0;
};

// One XRGB8888 buffer of the given size holding the picture, or an empty
// Picture.
Picture Draw(wl_shm* shm, int width, int height) {
    Picture picture;
    std::size_t stride = static_cast<std::size_t>(width) * 4;
    std::size_t bytes = stride * static_cast<std::size_t>(height);
    int fd = memfd_create("bare_wayland_window", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return picture;
    }
    void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
        close(fd);
        return picture;
    }
    auto* pixels = static_cast<std::uint32_t*>(mapped);
    std::memset(pixels, 0, bytes);
    for (int i = 0; i < width && i < height; ++i) {
        pixels[static_cast<std::size_t>(i) * width + i] = 0xFF0000;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(bytes));
    picture.buffer = wl_shm_pool_create_buffer(
        pool, 0, width, height, static_cast<std::int32_t>(stride), WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    munmap(mapped, bytes);  // the compositor keeps its own mapping
    close(fd);
    picture.width = width;
    picture.height = height;
    return picture;
}

#if OSTREVANE_HAVE_LIBDECOR
int Dispatch(wl_display* display, libdecor* decor) {
    return decor != nullptr ? libdecor_dispatch(decor, -1) : wl_display_dispatch(display);
}
#else
int Dispatch(wl_display* display, void*) { return wl_display_dispatch(display); }
#endif

}  // namespace

int main(int argc, char** argv) {
    bool decorated = argc > 1 && std::strcmp(argv[1], "--libdecor") == 0;
#if !OSTREVANE_HAVE_LIBDECOR
    if (decorated) {
        std::fprintf(stderr, "bare_wayland_window: built without libdecor\n");
        return 2;
    }
    void* decor = nullptr;
#endif
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "bare_wayland_window: cannot connect to the compositor\n");
        return 1;
    }
    Client client;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &client);
    wl_display_roundtrip(display);
    if (client.compositor == nullptr || client.shm == nullptr || client.wmBase == nullptr ||
        client.output == nullptr) {
        std::fprintf(stderr, "bare_wayland_window: the compositor lacks a global it needs\n");
        return 1;
    }
    xdg_wm_base_add_listener(client.wmBase, &kWmBaseListener, &client);
    wl_output_add_listener(client.output, &kOutputListener, &client);
    wl_display_roundtrip(display);
    if (client.outputWidth <= 0 || client.outputHeight <= 0) {
        std::fprintf(stderr, "bare_wayland_window: the output has no current mode\n");
        return 1;
    }
    int width = client.outputWidth * 3 / 4;
    int height = client.outputHeight * 3 / 4;

    wl_surface* surface = wl_compositor_create_surface(client.compositor);
    xdg_surface* shellSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
#if OSTREVANE_HAVE_LIBDECOR
    libdecor* decor = nullptr;
    libdecor_frame* decorFrame = nullptr;
    libdecor_interface decorInterface = {};
    decorInterface.error = OnDecorError;
    libdecor_frame_interface frameInterface = {};
    frameInterface.configure = OnDecorConfigure;
    frameInterface.close = OnDecorClose;
    frameInterface.commit = OnDecorCommit;
    if (decorated) {
        wantedWidth = width;
        wantedHeight = height;
        decoratedSurface = surface;
        decor = libdecor_new(display, &decorInterface);
        decorFrame = decor != nullptr ? libdecor_decorate(decor, surface, &frameInterface, &client)
                                      : nullptr;
        if (decorFrame == nullptr) {
            std::fprintf(stderr, "bare_wayland_window: libdecor cannot decorate the window\n");
            return 1;
        }
        libdecor_frame_set_title(decorFrame, "bare_wayland_window");
        libdecor_frame_map(decorFrame);
    }
#endif
    if (!decorated) {
        shellSurface = xdg_wm_base_get_xdg_surface(client.wmBase, surface);
        xdg_surface_add_listener(shellSurface, &kSurfaceListener, &client);
        toplevel = xdg_surface_get_toplevel(shellSurface);
        xdg_toplevel_add_listener(toplevel, &kToplevelListener, &client);
        xdg_toplevel_set_title(toplevel, "bare_wayland_window");
        wl_surface_commit(surface);
    }
    wl_display_flush(display);

    Picture picture = Draw(client.shm, width, height);
    if (picture.buffer == nullptr) {
        std::fprintf(stderr, "bare_wayland_window: cannot make a %dx%d buffer\n", width, height);
        return 1;
    }
    while (!client.configured && !client.closed) {
        if (Dispatch(display, decor) < 0) {
            return 1;
        }
    }
    // A size the compositor insists on is drawn anew at that size.
    if (client.configureWidth > 0 && client.configureHeight > 0 &&
        (client.configureWidth != width || client.configureHeight != height)) {
        wl_buffer_destroy(picture.buffer);
        picture = Draw(client.shm, client.configureWidth, client.configureHeight);
        if (picture.buffer == nullptr) {
            return 1;
        }
    }
    wl_surface_attach(surface, picture.buffer, 0, 0);
    wl_surface_damage(surface, 0, 0, picture.width, picture.height);
    wl_callback* frame = wl_surface_frame(surface);
    wl_callback_add_listener(frame, &kFrameListener, &client);
    wl_surface_commit(surface);

    while (!client.closed) {
        if (Dispatch(display, decor) < 0) {
            break;
        }
    }
#if OSTREVANE_HAVE_LIBDECOR
    if (decorFrame != nullptr) {
        libdecor_frame_unref(decorFrame);
    }
    if (decor != nullptr) {
        libdecor_unref(decor);
    }
#endif
    if (toplevel != nullptr) {
        xdg_toplevel_destroy(toplevel);
        xdg_surface_destroy(shellSurface);
    }
    wl_surface_destroy(surface);
    wl_buffer_destroy(picture.buffer);
    wl_output_destroy(client.output);
    xdg_wm_base_destroy(client.wmBase);
    wl_shm_destroy(client.shm);
    wl_compositor_destroy(client.compositor);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
