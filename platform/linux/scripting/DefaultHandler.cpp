#include "platform/linux/scripting/DefaultHandler.h"

#include <gio/gio.h>

#include "agent/scripting/ScriptFailure.h"

namespace kx {

void openWithDefaultHandler(const std::string& uri) {
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error)) return;
    std::string detail = error ? error->message : "no application opens it";
    g_clear_error(&error);
    throw ScriptFailure(ScriptFailure::Reason::failed, {}, "cannot open " + uri + ": " + detail);
}

std::string fileURI(const std::string& path) {
    GError* error = nullptr;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, &error);
    if (!uri) {
        g_clear_error(&error);
        throw ScriptFailure(ScriptFailure::Reason::failed, {}, "no URI for " + path);
    }
    std::string out(uri);
    g_free(uri);
    return out;
}

}  // namespace kx
