#pragma once

#include "agent/power/ShutdownExecuting.h"
#include "platform/linux/power/BusOpener.h"

namespace kx {

// Asks logind to power off or reboot. Non-interactive, so polkit alone decides whether the
// agent's user may; a refusal or a missing logind is logged in one line and otherwise ignored.
class LogindShutdownExecutor : public ShutdownExecuting {
public:
    explicit LogindShutdownExecutor(BusOpener openBus = systemBusOpener());

    // Returns at once: the request runs on a detached thread, and nothing waits for it.
    void perform(ShutdownAction action) override;

    // The blocking request itself.
    static void request(const BusOpener& openBus, ShutdownAction action);

private:
    BusOpener openBus_;
};

}  // namespace kx
