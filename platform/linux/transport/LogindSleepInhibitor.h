#pragma once

#include <memory>
#include <string>

#include "agent/transport/SleepInhibitor.h"

namespace kx {

// Keeps the machine awake through a logind inhibitor lock over the system D-Bus:
// Manager.Inhibit("idle:sleep", "Kestrix", reason, "block") hands out a file descriptor that
// holds the lock until it is closed. Without logind or a system bus nothing is held, silently.
class LogindSleepInhibitor : public SleepInhibitor {
public:
    std::unique_ptr<SleepInhibition> inhibit(const std::string& reason) override;
};

}  // namespace kx
