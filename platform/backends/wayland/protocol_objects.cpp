#include "platform/backends/wayland/protocol_objects.h"

#include <cstdint>

namespace platform {
namespace wayland {

namespace {

template <typename T>
std::uint32_t Version(T* object) {
    return wl_proxy_get_version(reinterpret_cast<wl_proxy*>(object));
}

}  // namespace

void ProtocolDeleter::operator()(wl_display* display) const {
    wl_display_flush(display);  // fails at once on a broken connection
    wl_display_disconnect(display);
}
void ProtocolDeleter::operator()(wl_registry* registry) const { wl_registry_destroy(registry); }
void ProtocolDeleter::operator()(wl_compositor* compositor) const {
    wl_compositor_destroy(compositor);
}
void ProtocolDeleter::operator()(wl_shm* shm) const { wl_shm_destroy(shm); }
void ProtocolDeleter::operator()(wl_buffer* buffer) const { wl_buffer_destroy(buffer); }
void ProtocolDeleter::operator()(wl_callback* callback) const { wl_callback_destroy(callback); }
void ProtocolDeleter::operator()(wl_surface* surface) const { wl_surface_destroy(surface); }
void ProtocolDeleter::operator()(wl_output* output) const {
    if (Version(output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
        wl_output_release(output);
    } else {
        wl_output_destroy(output);
    }
}
void ProtocolDeleter::operator()(wl_seat* seat) const {
    if (Version(seat) >= WL_SEAT_RELEASE_SINCE_VERSION) {
        wl_seat_release(seat);
    } else {
        wl_seat_destroy(seat);
    }
}
void ProtocolDeleter::operator()(wl_keyboard* keyboard) const {
    if (Version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
        wl_keyboard_release(keyboard);
    } else {
        wl_keyboard_destroy(keyboard);
    }
}
void ProtocolDeleter::operator()(xdg_wm_base* base) const { xdg_wm_base_destroy(base); }
void ProtocolDeleter::operator()(xdg_surface* surface) const { xdg_surface_destroy(surface); }
void ProtocolDeleter::operator()(xdg_toplevel* toplevel) const { xdg_toplevel_destroy(toplevel); }
void ProtocolDeleter::operator()(zxdg_decoration_manager_v1* manager) const {
    zxdg_decoration_manager_v1_destroy(manager);
}
void ProtocolDeleter::operator()(zxdg_toplevel_decoration_v1* decoration) const {
    zxdg_toplevel_decoration_v1_destroy(decoration);
}
void ProtocolDeleter::operator()(zxdg_output_manager_v1* manager) const {
    zxdg_output_manager_v1_destroy(manager);
}
void ProtocolDeleter::operator()(zxdg_output_v1* output) const { zxdg_output_v1_destroy(output); }
void ProtocolDeleter::operator()(xkb_context* context) const { xkb_context_unref(context); }
void ProtocolDeleter::operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
void ProtocolDeleter::operator()(xkb_state* state) const { xkb_state_unref(state); }
void ProtocolDeleter::operator()(xkb_compose_table* table) const { xkb_compose_table_unref(table); }
void ProtocolDeleter::operator()(xkb_compose_state* state) const { xkb_compose_state_unref(state); }
#if OSTREVANE_HAVE_LIBDECOR
void ProtocolDeleter::operator()(libdecor_frame* frame) const { libdecor_frame_unref(frame); }
#endif

}  // namespace wayland
}  // namespace platform
