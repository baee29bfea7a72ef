#pragma once

namespace kx {

// The outcome of a power action.
enum class PowerResult { done, unavailable, failed };

// Screen lock, sleep and display sleep of this computer.
class PowerTools {
public:
    enum class Action { lock, sleep, displaySleep };

    virtual ~PowerTools() = default;
    // Whether the action can be done on this computer at all.
    virtual bool available(Action action) = 0;
    // Returns once the request is made; does not wait for the computer to sleep.
    virtual PowerResult perform(Action action) = 0;
};

}  // namespace kx
