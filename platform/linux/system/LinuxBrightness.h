#pragma once

#include <filesystem>

#include "agent/system/BrightnessControl.h"
#include "platform/linux/power/BusOpener.h"

namespace kx {

// Steps the display brightness through the desktop's own interface where it runs (it shows the
// level on screen), else through logind on the best backlight of the kernel.
class LinuxBrightness : public BrightnessControl {
public:
    explicit LinuxBrightness(BusOpener sessionBus = sessionBusOpener(), BusOpener systemBus = systemBusOpener(),
                             std::filesystem::path backlights = "/sys/class/backlight");

    bool available() override;
    bool step(bool up) override;

private:
    bool desktopStep(bool up, bool dryRun);
    bool backlightStep(bool up, bool dryRun);

    BusOpener sessionBus_;
    BusOpener systemBus_;
    std::filesystem::path backlights_;
};

}  // namespace kx
