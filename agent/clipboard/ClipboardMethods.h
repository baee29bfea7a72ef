#pragma once

#include <memory>

#include "agent/clipboard/ClipboardController.h"
#include "agent/transport/CommandRouter.h"

namespace kx {

// The clipboard: every clipboard request of a session waits for the one before, so that a set
// followed by a get reads what was set.
inline const OrderedTarget clipboardTarget{"clipboard", std::nullopt};

// clipboard.get, clipboard.peek and clipboard.set on the controller, all needing authentication.
// They are offered under "clipboard.text" when the clipboard can be reached now; otherwise they
// still answer and a setup hint says why the capability is missing.
void registerClipboardMethods(CommandRouter& router, std::shared_ptr<const ClipboardController> clipboard);

}  // namespace kx
