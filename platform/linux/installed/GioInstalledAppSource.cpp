#include "platform/linux/installed/GioInstalledAppSource.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <filesystem>
#include <memory>
#include <string>

#include "agent/support/UTF8.h"

namespace kx {

namespace {

struct GListDeleter {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
struct GCharsDeleter {
    void operator()(gchar* text) const { g_free(text); }
};
struct GStrvDeleter {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};

std::string text(const char* value) {
    return value ? repairUTF8(value) : std::string();
}

// The program an entry runs, by its file name: Exec's first word, past an "env NAME=value ..."
// prefix, so that a window's process can be matched to it.
std::string executableName(GDesktopAppInfo* info) {
    const char* commandLine = g_app_info_get_commandline(G_APP_INFO(info));
    gchar** argv = nullptr;
    if (!commandLine || !g_shell_parse_argv(commandLine, nullptr, &argv, nullptr)) return {};
    std::unique_ptr<gchar*, GStrvDeleter> owned(argv);
    std::string program;
    for (gchar** word = argv; *word; ++word) {
        std::string candidate = std::filesystem::path(*word).filename().string();
        if (program.empty()) {
            program = candidate;
            if (program != "env") break;
        } else if (candidate.find('=') == std::string::npos && !candidate.starts_with("-")) {
            program = candidate;
            break;
        }
    }
    return repairUTF8(program);
}

InstalledApp appFrom(GDesktopAppInfo* info) {
    InstalledApp app;
    app.bundleID = text(g_app_info_get_id(G_APP_INFO(info)));
    // GIO gives the id with ".desktop"; the identifier everywhere else is without it.
    constexpr std::string_view suffix = ".desktop";
    if (app.bundleID.ends_with(suffix)) app.bundleID.resize(app.bundleID.size() - suffix.size());
    app.name = text(g_app_info_get_name(G_APP_INFO(info)));
    app.url = text(g_desktop_app_info_get_filename(info));
    app.startupWMClass = text(g_desktop_app_info_get_startup_wm_class(info));
    app.executable = executableName(info);
    std::unique_ptr<gchar, GCharsDeleter> icon(g_desktop_app_info_get_string(info, "Icon"));
    app.iconName = text(icon.get());
    return app;
}

}  // namespace

std::vector<InstalledApp> GioInstalledAppSource::entries() {
    std::unique_ptr<GList, GListDeleter> all(g_app_info_get_all());
    std::vector<InstalledApp> apps;
    for (GList* item = all.get(); item; item = item->next) {
        auto* info = static_cast<GAppInfo*>(item->data);
        if (!G_IS_DESKTOP_APP_INFO(info) || !g_app_info_should_show(info)) continue;
        auto app = appFrom(G_DESKTOP_APP_INFO(info));
        if (!app.bundleID.empty()) apps.push_back(std::move(app));
    }
    return apps;
}

}  // namespace kx
