#pragma once

#include <memory>

namespace kx {

class ControlServer;
class ShutdownCountdown;
class StatusReport;

// `kestrixd shutdown cancel` and `kestrixd shutdown now` for the person at the computer, and the
// pending shutdown or restart in `kestrixd status`.
void registerShutdownControlCommands(ControlServer& control, std::shared_ptr<ShutdownCountdown> countdown,
                                     StatusReport& status);

}  // namespace kx
