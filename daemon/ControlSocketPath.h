#pragma once

#include <filesystem>

namespace kx::ControlSocketPath {

// The user's private runtime folder: $XDG_RUNTIME_DIR, else /tmp/kestrix-UID (created with mode
// 0700). Throws ControlError when the folder belongs to someone else or others may enter it.
std::filesystem::path runtimeFolder();

// The control socket of the agent that uses `dataFolder` (an absolute, canonical path): one name
// per data folder, so that commands reach the agent of the folder they name and two agents of one
// user never share a socket.
std::filesystem::path forDataFolder(const std::filesystem::path& dataFolder);

}  // namespace kx::ControlSocketPath
