#pragma once

#include <memory>

#include "agent/shortcuts/ShortcutSender.h"
#include "agent/transport/CommandRouter.h"

namespace kx {

// "app.shortcut" (app.shortcuts, after authentication): {"appId", "chord"} → {}. It posts input, so
// a session's shortcuts take their turn with its pointer and key requests.
void registerShortcutMethods(CommandRouter& router, std::shared_ptr<ShortcutSender> sender);

}  // namespace kx
