#pragma once

#include <optional>

#include "agent/power/ShutdownCountdown.h"

namespace kx {

// Shows a running countdown outside the agent's own windows, for example as a desktop notice.
class ShutdownNotifying {
public:
    virtual ~ShutdownNotifying() = default;
    // The newest state: a snapshot to show, or absent to take the notice down. Never blocks.
    virtual void show(const std::optional<ShutdownCountdown::Snapshot>& snapshot) = 0;
};

}  // namespace kx
