#pragma once

#include <memory>
#include <vector>

#include "agent/apps/InstalledApp.h"
#include "agent/installed/InstalledAppSource.h"

namespace kx {

// The installed applications as the phone sees them: one per identifier (the first the source
// gives wins) and sorted by name in the user's locale ignoring case, equal names by identifier.
class InstalledAppScanner {
public:
    explicit InstalledAppScanner(std::shared_ptr<InstalledAppSource> source) : source_(std::move(source)) {}

    // A fresh scan on every call; safe from any thread.
    std::vector<InstalledApp> scan() const;

    // The ordering and de-duplication applied to what a source gave.
    static std::vector<InstalledApp> arrange(std::vector<InstalledApp> entries);

private:
    std::shared_ptr<InstalledAppSource> source_;
};

}  // namespace kx
