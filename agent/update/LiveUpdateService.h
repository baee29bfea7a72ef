#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "agent/update/UpdateEndpoint.h"
#include "agent/update/UpdateKey.h"
#include "agent/update/UpdatePreferences.h"
#include "agent/update/UpdateService.h"

namespace kx {

// What the production update service is built from; every field has a working default.
struct LiveUpdateOptions {
    std::string version;
    UpdateEndpoint endpoint = UpdateEndpoint::fromEnvironment();
    std::filesystem::path publicKeyFile = UpdateKey::defaultLocation();
    // Absent: automatic checks stay on.
    std::shared_ptr<UpdatePreferences> preferences;
    // Absent: this installation cannot replace itself and shows the download page instead.
    std::shared_ptr<UpdateVerifying> verifier;
    std::shared_ptr<UpdateInstalling> installer;
};

// The update service of the running agent: the bundled key, the HTTPS fetcher and downloader
// for the configured host with the agent's User-Agent, and this platform's manifest entry.
// Without a host or a key, updates are off (one log line at the first check).
std::shared_ptr<UpdateService> makeLiveUpdateService(LiveUpdateOptions options);

}  // namespace kx
