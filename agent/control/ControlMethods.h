#pragma once

#include <memory>

#include "agent/control/InputController.h"
#include "agent/transport/CommandRouter.h"

namespace kx {

// The controllers that the control family's handlers close over, and the registration of their
// methods on the router.
struct ControlMethods {
    std::shared_ptr<InputController> input;

    // input.pointer.move, .click, .scroll, .drag, input.key and input.text; all need authentication.
    void registerInput(CommandRouter& router) const;
};

}  // namespace kx
