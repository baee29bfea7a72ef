#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "agent/power/ShutdownCountdown.h"
#include "agent/transport/CommandRouter.h"

namespace kx {

// Maps the calling session's device identifier to the name the person at the computer sees.
using DeviceNameLookup = std::function<std::optional<std::string>(const std::optional<std::string>& deviceID)>;

// The "system.shutdown" method: starts the countdown and answers at once with its length.
void registerShutdownMethods(CommandRouter& router, std::shared_ptr<ShutdownCountdown> countdown,
                             DeviceNameLookup deviceName);

}  // namespace kx
