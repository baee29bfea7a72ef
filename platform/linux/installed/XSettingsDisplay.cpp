// Reads the settings manager's property from the X server through XCB, whose errors come back per
// request, so no process-wide X error handler is touched. Qt stays out of this file.
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/linux/installed/XSettings.h"

namespace kx {

namespace {
// Settings blobs of real desktops are a few kilobytes; this is the most read, in 32-bit units.
constexpr std::uint32_t maxSettingsWords = 64 * 1024;

struct ConnectionCloser {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
struct ReplyFree {
    void operator()(void* reply) const { std::free(reply); }
};
template <class T>
using Reply = std::unique_ptr<T, ReplyFree>;

xcb_atom_t atom(xcb_connection_t* connection, const std::string& name) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}
}  // namespace

std::optional<std::string> XSettings::readString(std::string_view name) {
    int screen = 0;
    std::unique_ptr<xcb_connection_t, ConnectionCloser> connection(xcb_connect(nullptr, &screen));
    if (xcb_connection_has_error(connection.get())) return std::nullopt;
    xcb_connection_t* c = connection.get();

    xcb_atom_t selection = atom(c, "_XSETTINGS_S" + std::to_string(screen));
    xcb_atom_t settings = atom(c, "_XSETTINGS_SETTINGS");
    if (selection == XCB_ATOM_NONE || settings == XCB_ATOM_NONE) return std::nullopt;
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE) return std::nullopt;

    // A manager that went away meanwhile gives an error instead of a reply.
    Reply<xcb_get_property_reply_t> property(xcb_get_property_reply(
        c, xcb_get_property(c, 0, owner->owner, settings, settings, 0, maxSettingsWords), nullptr));
    if (!property || property->format != 8 || property->type != settings) return std::nullopt;
    auto* data = static_cast<const char*>(xcb_get_property_value(property.get()));
    auto length = static_cast<std::size_t>(xcb_get_property_value_length(property.get()));
    return parseString(std::string_view(data, length), name);
}

}  // namespace kx
