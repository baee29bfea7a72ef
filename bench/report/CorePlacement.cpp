#include "bench/report/CorePlacement.h"

#include <sched.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace kx::bench {

namespace {

std::vector<pid_t> threadsOf(pid_t process) {
    std::vector<pid_t> threads;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/task", error))
        threads.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    return threads;
}

}  // namespace

CorePlacement::CorePlacement(pid_t servingProcess) {
    auto threads = threadsOf(::getpid());
    for (pid_t thread : threadsOf(servingProcess)) threads.push_back(thread);
    // The first core this process may use (a container may leave out core 0).
    cpu_set_t allowed, firstCore;
    CPU_ZERO(&firstCore);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    for (int core = 0; core < CPU_SETSIZE; ++core)
        if (CPU_ISSET(core, &allowed)) {
            CPU_SET(core, &firstCore);
            break;
        }
    for (pid_t thread : threads) {
        cpu_set_t before;
        // A thread that ended meanwhile is no matter.
        if (::sched_getaffinity(thread, sizeof before, &before) == 0 &&
            ::sched_setaffinity(thread, sizeof firstCore, &firstCore) == 0)
            pinned_.emplace_back(thread, before);
    }
}

CorePlacement::~CorePlacement() {
    for (const auto& [thread, before] : pinned_) ::sched_setaffinity(thread, sizeof before, &before);
}

}  // namespace kx::bench
