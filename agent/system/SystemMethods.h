#pragma once

#include <memory>

#include "agent/system/NowPlayingController.h"
#include "agent/system/SystemController.h"
#include "agent/transport/CommandRouter.h"

namespace kx {

// The system family: system.state, system.nowplaying, system.volume.set, system.volume.mute,
// system.brightness.step, system.media and system.power; all need authentication. Each capability
// is offered where its port works on this computer; where the port exists but does not work, a
// setup hint says what is missing.
void registerSystemMethods(CommandRouter& router, std::shared_ptr<SystemController> system,
                           std::shared_ptr<NowPlayingController> nowPlaying);

}  // namespace kx
