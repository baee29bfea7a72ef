#include "agent/update/BrowserOpener.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "agent/support/Log.h"

extern char** environ;

namespace kx {

namespace {
constexpr const char* kOpener = "xdg-open";
constexpr auto kPollInterval = std::chrono::milliseconds(50);

// The opener's exit status, or absent while it still runs after `browserOpenWait`.
std::optional<int> exitStatusWithin(pid_t pid) {
    auto deadline = std::chrono::steady_clock::now() + browserOpenWait;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR) return -1;
        std::this_thread::sleep_for(kPollInterval);
    }
    return std::nullopt;
}
}  // namespace

bool openInBrowser(const std::string& url) {
    log::info("Opening the download page " + url);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // The browser outlives the agent: it must not keep the agent's sockets.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::vector<char*> argv{const_cast<char*>(kOpener), const_cast<char*>(url.c_str()), nullptr};
    pid_t pid = 0;
    int error = posix_spawnp(&pid, kOpener, &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        log::error("Could not open the download page: xdg-open is not available");
        return false;
    }
    auto status = exitStatusWithin(pid);
    if (!status) {
        std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
        return true;
    }
    if (*status != 0)
        log::error("Could not open the download page: xdg-open failed with status " + std::to_string(*status));
    return *status == 0;
}

}  // namespace kx
