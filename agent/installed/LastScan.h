#pragma once

#include <mutex>
#include <vector>

#include "agent/apps/InstalledApp.h"

namespace kx {

// The result of the latest scan of installed applications; empty until the first one.
class LastScan {
public:
    std::vector<InstalledApp> apps() const {
        std::lock_guard guard(lock_);
        return apps_;
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
