#pragma once

#include <memory>

#include "agent/scripting/ScriptableAppController.h"

namespace kx {

class CommandRouter;

// The browser and file-manager methods: app.chrome.tabs.list, .activate, .close, app.chrome.open,
// app.finder.reveal, .open and .selection, all needing authentication. A capability is offered
// only where every one of its methods works here; otherwise its methods still answer and a setup
// hint says what is missing. Browser tabs cannot be driven on this platform yet: the tab methods
// answer "unsupported".
void registerScriptableAppMethods(CommandRouter& router, std::shared_ptr<const ScriptableAppController> apps);

}  // namespace kx
