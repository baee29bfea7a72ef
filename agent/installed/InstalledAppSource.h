#pragma once

#include <vector>

#include "agent/apps/InstalledApp.h"

namespace kx {

// Where the desktop's launchable applications come from (desktop entries on Linux, application
// bundles on macOS). The platform's own rules about what to show apply here; ordering and
// de-duplication are the scanner's.
class InstalledAppSource {
public:
    virtual ~InstalledAppSource() = default;
    // Every application the user may launch, in order of precedence: when an identifier occurs
    // twice, the earlier entry wins. Never throws; an unreadable location adds nothing.
    virtual std::vector<InstalledApp> entries() = 0;
};

}  // namespace kx
