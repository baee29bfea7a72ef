#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "agent/service/AgentServiceOptions.h"

namespace kx {

// The agent service's options on Linux, shared by kestrixd and the desktop app: state in the data
// folder, the Linux implementations of every platform interface, and an update that replaces this
// installation and then ends the process as SIGTERM does.
//
// Method families: add the Linux implementation of your family's interface here.
AgentServiceOptions linuxAgentOptions(const std::filesystem::path& dataFolder, const std::string& version,
                                      const std::optional<std::string>& updateBaseURL);

}  // namespace kx
