#pragma once

#include <memory>

#include "agent/apps/FrontmostSource.h"
#include "agent/system/AudioOutput.h"
#include "agent/system/BrightnessControl.h"
#include "agent/system/MediaPlayers.h"
#include "agent/system/PowerTools.h"

namespace kx {

// The platform's implementations behind the system family. A null one leaves its methods
// answering "unsupported" without offering or hinting at their capability.
struct SystemPorts {
    std::shared_ptr<AudioOutput> audio;
    std::shared_ptr<MediaPlayers> players;
    std::shared_ptr<BrightnessControl> brightness;
    std::shared_ptr<PowerTools> power;
};

}  // namespace kx
