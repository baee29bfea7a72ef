#include "agent/permissions/SystemPermissionProbe.h"

#include <sys/stat.h>
#include <unistd.h>

namespace kx {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

const std::vector<std::string>& SystemPermissionProbe::defaultTmuxCandidates() {
    static const std::vector<std::string> candidates{"/opt/homebrew/bin/tmux", "/usr/local/bin/tmux", "/usr/bin/tmux",
                                                     "/opt/local/bin/tmux"};
    return candidates;
}

GrantState SystemPermissionProbe::state(const Requirement& requirement) const {
    switch (requirement.kind()) {
        case Requirement::Kind::accessibility:
            // Without a working check the state is unknown, never "denied".
            return options_.inputCanBeInjected && options_.inputCanBeInjected() ? GrantState::granted
                                                                                : GrantState::notDetermined;
        case Requirement::Kind::inputMonitoring: return GrantState::notDetermined;
        case Requirement::Kind::tmux: return tmuxPath() ? GrantState::granted : GrantState::unavailable;
        case Requirement::Kind::automation: return automationState(requirement.bundleID());
    }
    return GrantState::notDetermined;
}

// No requirement has a system prompt on this platform: asking is looking.
GrantState SystemPermissionProbe::prompt(const Requirement& requirement) const {
    return state(requirement);
}

std::optional<std::string> SystemPermissionProbe::tmuxPath() const {
    return firstExecutable(options_.tmuxCandidates);
}

std::optional<std::string> SystemPermissionProbe::firstExecutable(const std::vector<std::string>& candidates) {
    for (const auto& candidate : candidates)
        if (isExecutableFile(candidate)) return candidate;
    return std::nullopt;
}

std::function<std::optional<std::string>()> SystemPermissionProbe::tmuxLookup() const {
    return [candidates = options_.tmuxCandidates] { return firstExecutable(candidates); };
}

GrantState SystemPermissionProbe::automationState(const std::string& bundleID) const {
    return options_.automationState ? options_.automationState(bundleID) : GrantState::notDetermined;
}

}  // namespace kx
