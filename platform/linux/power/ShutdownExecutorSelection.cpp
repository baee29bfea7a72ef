#include "platform/linux/power/ShutdownExecutorSelection.h"

#include <cstdlib>
#include <string>

#include "agent/support/Log.h"
#include "platform/linux/power/DryRunShutdownExecutor.h"
#include "platform/linux/power/LogindShutdownExecutor.h"

namespace kx {

std::shared_ptr<ShutdownExecuting> shutdownExecutorFromEnvironment() {
    const char* dryRunFile = std::getenv(kPowerDryRunVariable);
    if (dryRunFile && *dryRunFile) {
        log::info(std::string("power dry run: shutdown and restart are written to ") + dryRunFile);
        return std::make_shared<DryRunShutdownExecutor>(dryRunFile);
    }
    return std::make_shared<LogindShutdownExecutor>();
}

}  // namespace kx
