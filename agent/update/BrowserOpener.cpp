#include "agent/update/BrowserOpener.h"

#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "agent/support/Log.h"
#include "agent/update/DetachedSpawn.h"

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
    auto pid = spawnDetached({kOpener, url});
    if (!pid) {
        log::error("Could not open the download page: xdg-open is not available");
        return false;
    }
    auto status = exitStatusWithin(*pid);
    if (!status) {
        std::thread([pid] { ::waitpid(*pid, nullptr, 0); }).detach();
        return true;
    }
    if (*status != 0)
        log::error("Could not open the download page: xdg-open failed with status " + std::to_string(*status));
    return *status == 0;
}

}  // namespace kx
