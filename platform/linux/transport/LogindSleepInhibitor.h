#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "agent/transport/SleepInhibitor.h"

namespace kx {

// Keeps the machine awake through a logind inhibitor lock over the system D-Bus:
// Manager.Inhibit("idle:sleep", "Kestrix", reason, "block") hands out a file descriptor that
// holds the lock until it is closed. Without logind or a system bus nothing is held, silently.
class LogindSleepInhibitor : public SleepInhibitor {
public:
    // Longest wait for logind's answer.
    static constexpr std::chrono::seconds callTimeout{2};

    LogindSleepInhibitor() = default;
    // Talks to the bus at `busAddress` instead of the system bus (for tests with a stand-in logind).
    explicit LogindSleepInhibitor(std::string busAddress) : busAddress_(std::move(busAddress)) {}

    std::unique_ptr<SleepInhibition> inhibit(const std::string& reason) override;

private:
    std::optional<std::string> busAddress_;
};

}  // namespace kx
