#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "daemon/ControlMessages.h"

namespace kx::ControlClient {

// Longest wait for the agent's reply.
inline constexpr std::chrono::seconds replyTimeout{30};

// Sends one command to the agent running for `dataFolder` and returns its reply. Throws
// ControlError when no agent answers for that folder or the reply does not come.
ControlReply send(const std::filesystem::path& dataFolder, const std::vector<std::string>& words);

}  // namespace kx::ControlClient
