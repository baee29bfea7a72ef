#include "platform/linux/installed/GioInstalledAppSource.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "agent/support/UTF8.h"

namespace kx {

namespace {

struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
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

InstalledApp appFrom(GDesktopAppInfo* info, const std::filesystem::path& file, const std::string& id) {
    InstalledApp app;
    app.bundleID = repairUTF8(id);
    app.name = text(g_app_info_get_name(G_APP_INFO(info)));
    app.url = file.string();  // a path, used as it is; never sent to the phone
    app.startupWMClass = text(g_desktop_app_info_get_startup_wm_class(info));
    app.executable = executableName(info);
    std::unique_ptr<gchar, GCharsDeleter> icon(g_desktop_app_info_get_string(info, "Icon"));
    app.iconName = text(icon.get());
    return app;
}

// Walks one applications folder: a file "a/b.desktop" has the id "a-b". The first file of an id
// claims it, whether or not it is shown, so that a user's Hidden copy hides the system's entry.
class FolderWalk {
public:
    FolderWalk(std::set<std::string>& claimed, std::vector<InstalledApp>& apps) : claimed_(claimed), apps_(apps) {}

    void walk(const std::filesystem::path& folder, const std::string& prefix, int depth) {
        std::error_code error;
        std::filesystem::directory_iterator entries(folder, error);
        for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
            if (++seen_ > GioInstalledAppSource::maxFiles) return;
            const auto& path = entries->path();
            std::string name = path.filename().string();
            if (name.starts_with(".")) continue;
            std::error_code ignored;
            if (entries->is_directory(ignored)) {
                if (depth < GioInstalledAppSource::maxDepth) walk(path, prefix + name + "-", depth + 1);
            } else if (name.ends_with(suffix) && name.size() > suffix.size()) {
                add(path, prefix + name.substr(0, name.size() - suffix.size()));
            }
        }
    }

private:
    static constexpr std::string_view suffix = ".desktop";

    void add(const std::filesystem::path& file, const std::string& id) {
        if (!claimed_.insert(id).second) return;
        // GIO refuses entries that are not applications or whose TryExec or Exec program is missing.
        std::unique_ptr<GDesktopAppInfo, GObjectDeleter> info(g_desktop_app_info_new_from_filename(file.c_str()));
        if (!info || g_desktop_app_info_get_is_hidden(info.get()) || !g_app_info_should_show(G_APP_INFO(info.get())))
            return;
        apps_.push_back(appFrom(info.get(), file, id));
    }

    std::set<std::string>& claimed_;
    std::vector<InstalledApp>& apps_;
    std::size_t seen_ = 0;
};

}  // namespace

std::vector<InstalledApp> GioInstalledAppSource::entries() {
    std::set<std::string> claimed;
    std::vector<InstalledApp> apps;
    FolderWalk walk(claimed, apps);
    walk.walk(std::filesystem::path(g_get_user_data_dir()) / "applications", "", 0);
    for (const gchar* const* folder = g_get_system_data_dirs(); *folder; ++folder)
        walk.walk(std::filesystem::path(*folder) / "applications", "", 0);
    return apps;
}

}  // namespace kx
