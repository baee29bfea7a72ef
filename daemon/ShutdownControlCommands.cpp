#include "daemon/ShutdownControlCommands.h"

#include "agent/power/ShutdownCountdown.h"
#include "daemon/ControlServer.h"
#include "daemon/StatusReport.h"

namespace kx {

namespace {

constexpr const char* kNothingPending = "No shutdown or restart is pending.";

std::string noun(ShutdownAction action) {
    return action == ShutdownAction::restart ? "restart" : "shutdown";
}

JSONValue describe(const std::optional<ShutdownCountdown::Snapshot>& snapshot) {
    if (!snapshot) return nullptr;
    return JSONObject{{"action", std::string(rawValue(snapshot->action))},
                      {"deviceName", snapshot->deviceName},
                      {"remaining", snapshot->remaining}};
}

void expectNoArguments(const std::vector<std::string>& arguments, const std::string& usage) {
    if (!arguments.empty()) throw ControlError("usage: kestrixd " + usage);
}

ControlReply cancel(ShutdownCountdown& countdown, const std::vector<std::string>& arguments) {
    expectNoArguments(arguments, "shutdown cancel");
    const auto ended = countdown.cancel();
    if (!ended) throw ControlError(kNothingPending);
    return ControlReply::success("Cancelled the " + noun(ended->action) + " requested from " + ended->deviceName +
                                     " with " + std::to_string(ended->remaining) + " seconds left.\n",
                                 describe(ended));
}

ControlReply now(ShutdownCountdown& countdown, const std::vector<std::string>& arguments) {
    expectNoArguments(arguments, "shutdown now");
    const auto ended = countdown.now();
    if (!ended) throw ControlError(kNothingPending);
    return ControlReply::success((ended->action == ShutdownAction::restart ? "Restarting now" : "Shutting down now") +
                                     std::string(", as requested from ") + ended->deviceName + ".\n",
                                 describe(ended));
}

}  // namespace

void registerShutdownControlCommands(ControlServer& control, std::shared_ptr<ShutdownCountdown> countdown,
                                     StatusReport& status) {
    control.addCommand("shutdown cancel", "shutdown cancel", "stop a pending shutdown or restart",
                       [countdown](const auto& arguments) { return cancel(*countdown, arguments); });
    control.addCommand("shutdown now", "shutdown now", "carry out a pending shutdown or restart at once",
                       [countdown](const auto& arguments) { return now(*countdown, arguments); });
    status.add([weak = std::weak_ptr(countdown)] {
        const auto countdown = weak.lock();
        const auto pending = countdown ? countdown->current() : std::nullopt;
        return std::vector<std::string>{pending ? "Shutdown: " + pending->message() : "Shutdown: none pending"};
    });
}

}  // namespace kx
