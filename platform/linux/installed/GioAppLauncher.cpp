#include "platform/linux/installed/GioAppLauncher.h"

#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <thread>

namespace kx {

namespace {
struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
}  // namespace

bool GioAppLauncher::launchNow(const std::string& location) {
    std::unique_ptr<GDesktopAppInfo, GObjectDeleter> info(g_desktop_app_info_new_from_filename(location.c_str()));
    if (!info) return false;
    const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nothing < 0) return false;
    GError* error = nullptr;
    // Without G_SPAWN_DO_NOT_REAP_CHILD GLib double-forks and reaps the middle process itself.
    bool launched = g_desktop_app_info_launch_uris_as_manager_with_fds(info.get(), nullptr, nullptr,
                                                                       G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                                                                       nullptr, nothing, nothing, nothing, &error);
    ::close(nothing);
    if (error) g_error_free(error);
    return launched;
}

bool GioAppLauncher::open(const std::string& location) {
    // The launch runs on a thread of its own so that a slow start cannot hold the request past the
    // wait; it finishes on its own afterwards.
    auto outcome = std::make_shared<std::promise<bool>>();
    auto answer = outcome->get_future();
    try {
        std::thread([outcome, location] {
            bool launched = false;
            try {
                launched = launchNow(location);
            } catch (...) {
            }
            outcome->set_value(launched);
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    if (answer.wait_for(wait_) == std::future_status::timeout) return true;
    return answer.get();
}

}  // namespace kx
