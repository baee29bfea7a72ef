#include "platform/linux/system/LinuxSystemPorts.h"

#include "platform/linux/system/LinuxBrightness.h"
#include "platform/linux/system/LinuxPowerTools.h"
#include "platform/linux/system/MprisPlayers.h"
#include "platform/linux/system/PulseAudioOutput.h"

namespace kx {

SystemPorts linuxSystemPorts() {
    return {std::make_shared<PulseAudioOutput>(), std::make_shared<MprisPlayers>(), std::make_shared<LinuxBrightness>(),
            std::make_shared<LinuxPowerTools>()};
}

}  // namespace kx
