#include "tests/support/PrivateBus.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace kx::testing {

namespace {
constexpr int kReadyDescriptor = 3;
}

PrivateBus::PrivateBus() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kx-bus-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return;
    folder_ = pattern;

    // The daemon prints its address on this pipe once it accepts connections.
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    std::string listen = "--address=" + address();
    std::string printAddress = "--print-address=" + std::to_string(kReadyDescriptor);
    std::vector<char*> argv{const_cast<char*>("dbus-daemon"),
                            const_cast<char*>("--session"),
                            const_cast<char*>("--nofork"),
                            const_cast<char*>("--nopidfile"),
                            listen.data(),
                            printAddress.data(),
                            nullptr};
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, ready[1], kReadyDescriptor);
    // Its complaints about descriptor limits are noise in the test output.
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const bool spawned = ::posix_spawnp(&pid, "dbus-daemon", &actions, nullptr, argv.data(), environ) == 0;
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ready[1]);
    if (spawned) pid_ = pid;

    char first = 0;
    const bool announced = spawned && ::read(ready[0], &first, 1) == 1;
    ::close(ready[0]);
    if (!announced && pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

}  // namespace kx::testing
