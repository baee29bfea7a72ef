#pragma once

#include <filesystem>

#include "agent/power/ShutdownExecuting.h"

namespace kx {

// Stands in for the real executor when KX_POWER_DRY_RUN names a file: each action is appended to
// that file as one line ("shutdown" or "restart") and the computer keeps running.
class DryRunShutdownExecutor : public ShutdownExecuting {
public:
    explicit DryRunShutdownExecutor(std::filesystem::path file);
    void perform(ShutdownAction action) override;

private:
    std::filesystem::path file_;
};

}  // namespace kx
