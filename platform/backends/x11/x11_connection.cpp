#include "platform/backends/x11/x11_connection.h"

#include <X11/Xlib-xcb.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {
namespace x11 {

ConnectionFacts QueryConnection(Display* display, const char* const* names, int count,
                                Atom* atoms) {
    ConnectionFacts facts;
    xcb_connection_t* connection = XGetXCBConnection(display);
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        cookies.push_back(xcb_intern_atom(
            connection, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i]));
    }
    // The first wait: for RandR's QueryExtension, sent after the atoms,
    // whose replies therefore come with it.
    xcb_prefetch_extension_data(connection, &xcb_randr_id);
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    xcb_randr_query_version_cookie_t version = {};
    xcb_randr_get_output_primary_cookie_t primary = {};
    if (randr != nullptr && randr->present) {
        // Both in one round trip: a server older than RandR 1.3 answers the
        // second with an error, which its reply call takes.
        version = xcb_randr_query_version(connection, 1, 3);
        primary = xcb_randr_get_output_primary(
            connection, static_cast<xcb_window_t>(DefaultRootWindow(display)));
    }
    for (int i = 0; i < count; ++i) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
        atoms[i] = reply != nullptr ? reply->atom : None;
        std::free(reply);
    }
    if (randr == nullptr || !randr->present) {
        facts.lost = xcb_connection_has_error(connection) != 0;
        return facts;
    }
    xcb_generic_error_t* error = nullptr;
    xcb_randr_query_version_reply_t* versionReply =
        xcb_randr_query_version_reply(connection, version, &error);
    std::free(error);
    error = nullptr;
    xcb_randr_get_output_primary_reply_t* primaryReply =
        xcb_randr_get_output_primary_reply(connection, primary, &error);
    std::free(error);
    facts.randr = versionReply != nullptr &&
                  (versionReply->major_version > 1 ||
                   (versionReply->major_version == 1 && versionReply->minor_version >= 3));
    facts.randrPrimary = facts.randr && primaryReply != nullptr && primaryReply->output != 0;
    std::free(versionReply);
    std::free(primaryReply);
    facts.lost = xcb_connection_has_error(connection) != 0;
    return facts;
}

}  // namespace x11
}  // namespace platform
