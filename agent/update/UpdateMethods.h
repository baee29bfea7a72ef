#pragma once

#include <memory>

#include "agent/transport/CommandRouter.h"
#include "agent/update/UpdateService.h"

namespace kx {

// The wire methods "agent.update.status" and "agent.update.install", both under the
// "agent.update" capability and both for authenticated sessions only.
void registerUpdateMethods(CommandRouter& router, std::shared_ptr<UpdateService> updates);

}  // namespace kx
