#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "agent/power/ShutdownCountdown.h"

namespace kx {

// Passes the countdown's changes on to observers one at a time, newest state only, each change
// once. The countdown calls its observer outside its lock from several threads, so a tick may
// arrive after the cancel that followed it; re-reading the current state here means a late
// callback can never put a stale count back on screen.
class CountdownRelay {
public:
    using Observer = ShutdownCountdown::Observer;

    // Installs itself as the countdown's observer (held weakly by the countdown).
    static std::shared_ptr<CountdownRelay> attach(const std::shared_ptr<ShutdownCountdown>& countdown,
                                                  std::vector<Observer> observers);

    // Delivers the countdown's current state unless it was already delivered. Observers run under
    // the relay's lock and must not call into the countdown.
    void changed();

private:
    CountdownRelay(std::weak_ptr<ShutdownCountdown> countdown, std::vector<Observer> observers);

    std::mutex lock_;
    const std::weak_ptr<ShutdownCountdown> countdown_;
    const std::vector<Observer> observers_;
    std::optional<ShutdownCountdown::Snapshot> delivered_;
};

}  // namespace kx
