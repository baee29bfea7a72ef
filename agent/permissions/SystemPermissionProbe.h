#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/permissions/PermissionProbing.h"

namespace kx {

// The production probe. The platform supplies the checks that need its own interfaces (whether
// synthetic input can be posted, whether another application may be scripted); without them the
// answer is `notDetermined`. tmux is found by looking for an executable file at fixed places.
class SystemPermissionProbe : public PermissionProbing {
public:
    using AccessibilityCheck = std::function<bool()>;
    using AutomationCheck = std::function<GrantState(const std::string& bundleID)>;

    struct Options {
        // Places searched for tmux, in order.
        std::vector<std::string> tmuxCandidates = defaultTmuxCandidates();
        // True when this process can inject input: accessibility is then `granted`.
        AccessibilityCheck inputCanBeInjected = {};
        AutomationCheck automationState = {};
    };

    static const std::vector<std::string>& defaultTmuxCandidates();

    SystemPermissionProbe() : SystemPermissionProbe(Options{}) {}
    explicit SystemPermissionProbe(Options options) : options_(std::move(options)) {}

    GrantState state(const Requirement& requirement) const override;
    GrantState prompt(const Requirement& requirement) const override;

    // The first candidate that is an executable regular file, else absent.
    std::optional<std::string> tmuxPath() const;
    static std::optional<std::string> firstExecutable(const std::vector<std::string>& candidates);
    // A lookup bound to this probe's candidates, for the tmux controller; it is asked before
    // every tmux run.
    std::function<std::optional<std::string>()> tmuxLookup() const;

    GrantState automationState(const std::string& bundleID) const;

private:
    Options options_;
};

}  // namespace kx
