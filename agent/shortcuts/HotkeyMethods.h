#pragma once

#include <memory>

#include "agent/shortcuts/HotkeyController.h"
#include "agent/transport/CommandRouter.h"

namespace kx {

// "app.xcode.action" {"action"} → {}, "app.xcode.status" → {"state", "message"} and
// "app.slack.action" {"action"} → {}, after authentication. The actions post input and take their
// turn with the session's other input. Where Xcode does not exist (`offerXcode` false) its methods
// stay, answering as for an Xcode that is not running, but app.xcode is not announced: its hint
// says why.
void registerHotkeyMethods(CommandRouter& router, std::shared_ptr<HotkeyController> hotkeys, bool offerXcode);

}  // namespace kx
