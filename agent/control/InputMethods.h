#pragma once

#include <memory>

#include "agent/control/InputController.h"
#include "agent/transport/CommandRouter.h"

namespace kx {

// Pointer and keyboard: every request that posts input from one session waits for the one before.
inline const OrderedTarget inputTarget{"input", std::nullopt};

// The input family: input.pointer.move, .click, .scroll, .drag, input.key and input.text on the
// input controller; all need authentication. When a session closes, the left button that its
// unfinished drag holds is released.
void registerInputMethods(CommandRouter& router, std::shared_ptr<InputController> input);

}  // namespace kx
