#pragma once

#include <memory>

#include "agent/sessions/CommandRegistry.h"
#include "agent/sessions/SessionController.h"

namespace kx {

class CommandRouter;

// The terminal-session family: eight session.* methods on the tmux controller and the two list
// methods of the command registry, all requiring authentication. Whether tmux is there is decided
// now: without it the session methods still answer (with "tmux is not installed") but
// "session.tmux" is not offered and a setup hint says how to get it.
void registerSessionMethods(CommandRouter& router, std::shared_ptr<const SessionController> sessions,
                            std::shared_ptr<const CommandRegistry> registry);

}  // namespace kx
