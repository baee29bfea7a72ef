#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <stdexcept>

namespace kx {

// Keeps a second agent (the headless one or the desktop app) off a data folder that one already
// uses: an exclusive lock on a file in the folder, held for the life of the object and released by
// the system when the process ends, however it ends. The file names the holder's process id.
class InstanceLock {
public:
    static constexpr const char* fileName = "agent.lock";

    struct Held : std::runtime_error {
        std::optional<pid_t> holder;  // absent when the file does not say
        Held(const std::filesystem::path& dataFolder, std::optional<pid_t> holder);
    };

    // Throws Held when another process holds the lock, std::system_error when the file cannot be
    // opened or locked.
    explicit InstanceLock(const std::filesystem::path& dataFolder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    int descriptor_ = -1;
};

}  // namespace kx
