#include "agent/update/BrowserOpener.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <thread>
#include <vector>

#include "agent/support/Log.h"

extern char** environ;

namespace kx {

namespace {
constexpr const char* kOpener = "xdg-open";
}

void openInBrowser(const std::string& url) {
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
        return;
    }
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
}

}  // namespace kx
