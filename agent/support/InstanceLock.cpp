#include "agent/support/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>
#include <system_error>

#include "agent/support/Log.h"

namespace kx {

namespace {
// A process id in decimal and a newline.
constexpr std::size_t maxPidText = 32;

std::optional<pid_t> readHolder(int descriptor) {
    char text[maxPidText] = {};
    ssize_t length = ::pread(descriptor, text, sizeof text - 1, 0);
    if (length <= 0) return std::nullopt;
    pid_t pid = 0;
    auto [end, error] = std::from_chars(text, text + length, pid);
    if (error != std::errc() || pid <= 0) return std::nullopt;
    return pid;
}

std::string describe(const std::filesystem::path& dataFolder, std::optional<pid_t> holder) {
    std::string text = "another agent is already running for data folder " + dataFolder.string();
    if (holder) text += " (process " + std::to_string(*holder) + ")";
    return text;
}
}  // namespace

InstanceLock::Held::Held(const std::filesystem::path& dataFolder, std::optional<pid_t> holder)
    : std::runtime_error(describe(dataFolder, holder)), holder(holder) {}

InstanceLock::InstanceLock(const std::filesystem::path& dataFolder) {
    auto path = dataFolder / fileName;
    descriptor_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor_ < 0) throw std::system_error(errno, std::system_category(), "cannot open " + path.string());
    if (::flock(descriptor_, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        auto holder = readHolder(descriptor_);
        ::close(descriptor_);
        if (error == EWOULDBLOCK) throw Held(dataFolder, holder);
        throw std::system_error(error, std::system_category(), "cannot lock " + path.string());
    }
    std::string pid = std::to_string(::getpid()) + "\n";
    // Without the id the lock holds all the same; only a second agent's message says less.
    if (::ftruncate(descriptor_, 0) != 0 || ::pwrite(descriptor_, pid.data(), pid.size(), 0) < 0)
        log::error("cannot write the process id to " + path.string());
}

InstanceLock::~InstanceLock() {
    ::close(descriptor_);  // releases the lock
}

}  // namespace kx
