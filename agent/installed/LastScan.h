#pragma once

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agent/apps/InstalledApp.h"

namespace kx {

// The result of the latest scan of installed applications; empty until the first one.
class LastScan {
public:
    // The first application with exactly that identifier; searched under the lock, which is
    // cheaper than copying the whole list for one entry.
    std::optional<InstalledApp> find(const std::string& bundleID) const {
        std::lock_guard guard(lock_);
        auto match =
            std::find_if(apps_.begin(), apps_.end(), [&](const auto& app) { return app.bundleID == bundleID; });
        return match == apps_.end() ? std::nullopt : std::optional(*match);
    }
    void replace(std::vector<InstalledApp> apps) {
        std::lock_guard guard(lock_);
        apps_ = std::move(apps);
    }

private:
    mutable std::mutex lock_;
    std::vector<InstalledApp> apps_;
};

}  // namespace kx
