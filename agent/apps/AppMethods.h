#pragma once

#include <cstddef>
#include <memory>

#include "agent/apps/RunningAppsController.h"
#include "agent/transport/CommandRouter.h"

namespace kx {

// Characters of icon text one "system.apps.list" answer carries at most.
inline constexpr std::size_t appIconBudget = 102400;

// The running-application methods, all after authentication: "app.list" and "app.activate"
// (no capability), "system.apps.list", "system.apps.activate" and "system.apps.quit" (system.apps).
void registerAppMethods(CommandRouter& router, std::shared_ptr<RunningAppsController> apps);

}  // namespace kx
