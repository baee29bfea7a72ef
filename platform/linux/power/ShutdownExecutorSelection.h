#pragma once

#include <memory>

#include "agent/power/ShutdownExecuting.h"

namespace kx {

// Names a file that receives the actions instead of the real executor.
inline constexpr const char* kPowerDryRunVariable = "KX_POWER_DRY_RUN";

// The dry-run executor when KX_POWER_DRY_RUN is set and not empty, otherwise logind.
std::shared_ptr<ShutdownExecuting> shutdownExecutorFromEnvironment();

}  // namespace kx
