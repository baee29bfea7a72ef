#pragma once

#include "agent/system/PowerTools.h"
#include "platform/linux/power/BusOpener.h"

namespace kx {

// Lock: logind locks this process's session, else the desktop's screen saver does. Sleep: logind
// suspends when it allows this user to without asking. Display sleep: the X display's power
// management, else its screen saver.
class LinuxPowerTools : public PowerTools {
public:
    explicit LinuxPowerTools(BusOpener systemBus = systemBusOpener(), BusOpener sessionBus = sessionBusOpener());

    bool available(Action action) override;
    PowerResult perform(Action action) override;

private:
    bool lockSession(bool dryRun);
    bool lockScreenSaver(bool dryRun);
    bool maySuspend();
    bool suspend();

    BusOpener systemBus_;
    BusOpener sessionBus_;
};

}  // namespace kx
