#pragma once

#include "agent/power/ShutdownAction.h"

namespace kx {

// Carries a shutdown or restart out. It only starts the action: it neither waits for it nor
// reports a failure, because the countdown has already ended when it is called.
class ShutdownExecuting {
public:
    virtual ~ShutdownExecuting() = default;
    virtual void perform(ShutdownAction action) = 0;
};

}  // namespace kx
