#pragma once

#include <chrono>
#include <optional>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

namespace kx {

// The time limit of one call to a service that answers at once. A bus that starts the service on
// demand may take longer; the agent gives up rather than waits for it.
inline constexpr auto busCallTimeLimit = std::chrono::seconds(2);

// Where a method answers on a bus.
struct BusMethod {
    std::string service;
    std::string path;
    std::string interface;
    std::string name;
};

// Calls the method once with the given arguments and waits at most timeLimit for it to finish;
// false when the bus, the service or the method refuses, or no answer comes in time.
template <typename... Args>
bool callBusMethod(sdbus::IConnection& bus, const BusMethod& method, std::chrono::microseconds timeLimit,
                   const Args&... args) {
    try {
        sdbus::createProxy(bus, method.service, method.path)
            ->callMethod(method.name)
            .onInterface(method.interface)
            .withTimeout(timeLimit)
            .withArguments(args...);
        return true;
    } catch (const sdbus::Error&) {
        return false;
    }
}

// Like callBusMethod, and returns the method's one result; absent where callBusMethod is false.
template <typename Result, typename... Args>
std::optional<Result> askBusMethod(sdbus::IConnection& bus, const BusMethod& method,
                                   std::chrono::microseconds timeLimit, const Args&... args) {
    try {
        Result result{};
        sdbus::createProxy(bus, method.service, method.path)
            ->callMethod(method.name)
            .onInterface(method.interface)
            .withTimeout(timeLimit)
            .withArguments(args...)
            .storeResultsTo(result);
        return result;
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
}

}  // namespace kx
