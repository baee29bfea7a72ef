#pragma once

#include <chrono>
#include <filesystem>
#include <ostream>

namespace kx {

// `kestrixd update`: asks the running agent to install the offered update, prints each change of
// its progress, then waits for the agent that the swap starts and reports its version. Returns the
// exit status: 0 when the new version answers, 1 when the update failed or was rolled back.
// Throws ControlError when no agent answers or it refuses to start. On a terminal (`overwrite`)
// each progress line replaces the one before.
int runUpdateCommand(const std::filesystem::path& dataFolder, std::ostream& out, bool overwrite);

// How long the command follows a download and check, and then the swap (the script waits up to a
// minute for the agent to quit and 15 seconds for the new one to answer).
inline constexpr std::chrono::minutes updateCommandDownloadLimit{30};
inline constexpr std::chrono::seconds updateCommandSwapLimit{120};
inline constexpr std::chrono::milliseconds updateCommandPollInterval{200};

}  // namespace kx
