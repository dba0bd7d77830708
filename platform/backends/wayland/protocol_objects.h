// Ownership of Wayland protocol objects and xkbcommon references: each is
// held by an Owned<T>, a unique_ptr whose deleter sends the object's
// destructor request (release where the object's version has one) or drops
// the reference. Objects owned together are declared in the order they are
// made, so that they go in the reverse order.
#ifndef OSTREVANE_PLATFORM_BACKENDS_WAYLAND_PROTOCOL_OBJECTS_H
#define OSTREVANE_PLATFORM_BACKENDS_WAYLAND_PROTOCOL_OBJECTS_H

#include <wayland-client.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

#if OSTREVANE_HAVE_LIBDECOR
#include <libdecor.h>
#endif

#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace platform {
namespace wayland {

struct ProtocolDeleter {
    // Sends what is still buffered, then closes the connection.
    void operator()(wl_display* display) const;
    void operator()(wl_registry* registry) const;
    void operator()(wl_compositor* compositor) const;
    void operator()(wl_shm* shm) const;
    void operator()(wl_buffer* buffer) const;
    void operator()(wl_callback* callback) const;
    void operator()(wl_surface* surface) const;
    void operator()(wl_output* output) const;
    void operator()(wl_seat* seat) const;
    void operator()(wl_keyboard* keyboard) const;
    void operator()(xdg_wm_base* base) const;
    void operator()(xdg_surface* surface) const;
    void operator()(xdg_toplevel* toplevel) const;
    void operator()(zxdg_decoration_manager_v1* manager) const;
    void operator()(zxdg_toplevel_decoration_v1* decoration) const;
    void operator()(zxdg_output_manager_v1* manager) const;
    void operator()(zxdg_output_v1* output) const;
    void operator()(xkb_context* context) const;
    void operator()(xkb_keymap* keymap) const;
    void operator()(xkb_state* state) const;
    void operator()(xkb_compose_table* table) const;
    void operator()(xkb_compose_state* state) const;
#if OSTREVANE_HAVE_LIBDECOR
    void operator()(libdecor_frame* frame) const;
#endif
};

template <typename T>
using Owned = std::unique_ptr<T, ProtocolDeleter>;

}  // namespace wayland
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_WAYLAND_PROTOCOL_OBJECTS_H
