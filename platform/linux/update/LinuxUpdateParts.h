#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "agent/update/UpdateInstalling.h"
#include "agent/update/UpdateVerifying.h"

namespace kx {

// The verifier and installer of the running Linux installation: a portable bundle replaces itself;
// anything else shows the download page instead.
struct LinuxUpdateParts {
    std::shared_ptr<UpdateVerifying> verifier;
    std::shared_ptr<UpdateInstalling> installer;

    // `version` is the running version's text; `updateBaseURL` overrides the configured host;
    // `terminate` asks the agent to quit once the swap script runs.
    static LinuxUpdateParts forRunningAgent(const std::filesystem::path& dataFolder, const std::string& version,
                                            const std::optional<std::string>& updateBaseURL,
                                            std::function<void()> terminate);

    // The reason the swap script left when it put the previous version back, once: the file is
    // removed. Bounded and made valid UTF-8.
    static std::optional<std::string> takeSwapFailure(const std::filesystem::path& dataFolder);
};

}  // namespace kx
