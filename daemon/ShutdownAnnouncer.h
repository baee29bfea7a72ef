#pragma once

#include <memory>

namespace kx {

class CountdownRelay;
class ShutdownCountdown;

// Shows a running countdown to the person at the computer: one line on standard error for each
// change, and a desktop notification with a "Cancel" button and a button that carries the action
// out at once, when the session has a notification server. Showing stops when the returned relay is released.
std::shared_ptr<CountdownRelay> announceShutdownCountdown(const std::shared_ptr<ShutdownCountdown>& countdown);

}  // namespace kx
