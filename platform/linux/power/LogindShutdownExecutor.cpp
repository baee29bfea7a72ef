#include "platform/linux/power/LogindShutdownExecutor.h"

#include <chrono>
#include <exception>
#include <string>
#include <thread>

#include <sdbus-c++/sdbus-c++.h>

#include "agent/support/Log.h"
#include "platform/linux/power/LogindNames.h"

namespace kx {

namespace {

// Never ask for a password prompt: the phone's user is not at the computer.
constexpr bool kInteractive = false;
constexpr auto kCallTimeout = std::chrono::seconds(10);

const char* methodFor(ShutdownAction action) {
    return action == ShutdownAction::restart ? "Reboot" : "PowerOff";
}

}  // namespace

LogindShutdownExecutor::LogindShutdownExecutor(BusOpener openBus) : openBus_(std::move(openBus)) {}

void LogindShutdownExecutor::perform(ShutdownAction action) {
    try {
        std::thread([openBus = openBus_, action] { request(openBus, action); }).detach();
    } catch (const std::exception& error) {
        log::error(std::string("could not start the ") + std::string(rawValue(action)) + " request: " + error.what());
    }
}

void LogindShutdownExecutor::request(const BusOpener& openBus, ShutdownAction action) {
    try {
        auto bus = openBus();
        auto proxy = sdbus::createProxy(*bus, logind::service, logind::managerPath);
        proxy->callMethod(methodFor(action))
            .onInterface(logind::manager)
            .withTimeout(kCallTimeout)
            .withArguments(kInteractive);
    } catch (const sdbus::Error& error) {
        log::error("logind refused to " + std::string(rawValue(action)) + ": " + error.getName() + ": " +
                   error.getMessage());
    } catch (const std::exception& error) {
        log::error("could not ask logind to " + std::string(rawValue(action)) + ": " + error.what());
    }
}

}  // namespace kx
