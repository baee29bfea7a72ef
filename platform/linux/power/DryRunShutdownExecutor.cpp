#include "platform/linux/power/DryRunShutdownExecutor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "agent/support/Log.h"

namespace kx {

namespace {
constexpr mode_t kFileMode = 0600;
}

DryRunShutdownExecutor::DryRunShutdownExecutor(std::filesystem::path file) : file_(std::move(file)) {}

void DryRunShutdownExecutor::perform(ShutdownAction action) {
    const std::string line = std::string(rawValue(action)) + "\n";
    // One write on an O_APPEND descriptor keeps each line whole even with several writers.
    const int fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        log::error("dry run: cannot open " + file_.string() + ": " + std::strerror(errno));
        return;
    }
    const ssize_t written = ::write(fd, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) {
        log::error("dry run: cannot write " + file_.string() + ": " + std::strerror(errno));
    }
    ::close(fd);
}

}  // namespace kx
