#pragma once

#include <chrono>

namespace kx {

class ControlServer;
class StatusReport;
class UpdateService;

// The longest `kestrixd check-update` waits for the update host before it gives up the check.
inline constexpr std::chrono::seconds updateCheckWait{20};

// check-update (the menu's "Check for updates"), and the update line of `kestrixd status`.
void registerUpdateControlCommands(ControlServer& control, UpdateService& updates, StatusReport& status);

}  // namespace kx
