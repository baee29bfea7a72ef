#pragma once

#include <compare>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/permissions/Necessity.h"

namespace kx {

// Something the agent may need before a feature works: a privacy permission or the tmux program.
// `automation` carries the identifier of the application to be controlled.
class Requirement {
public:
    enum class Kind { automation, accessibility, inputMonitoring, tmux };

    static Requirement automation(std::string bundleID) { return {Kind::automation, std::move(bundleID)}; }
    static Requirement accessibility() { return {Kind::accessibility, {}}; }
    static Requirement inputMonitoring() { return {Kind::inputMonitoring, {}}; }
    static Requirement tmux() { return {Kind::tmux, {}}; }

    // The requirements the onboarding evaluates, in order: accessibility, tmux.
    static const std::vector<Requirement>& onboarding();

    Kind kind() const { return kind_; }
    // Empty except for `automation`.
    const std::string& bundleID() const { return bundleID_; }

    std::string title() const;
    std::string rationale() const;
    Necessity necessity() const;
    bool requiresRelaunchAfterGrant() const;
    std::optional<std::string> settingsURL() const;
    // A command the user can run to satisfy the requirement.
    std::optional<std::string> remediation() const;

    friend bool operator==(const Requirement&, const Requirement&) = default;
    friend auto operator<=>(const Requirement&, const Requirement&) = default;

private:
    Requirement(Kind kind, std::string bundleID) : kind_(kind), bundleID_(std::move(bundleID)) {}

    Kind kind_;
    std::string bundleID_;
};

}  // namespace kx

template <>
struct std::hash<kx::Requirement> {
    std::size_t operator()(const kx::Requirement& r) const {
        return std::hash<std::string>{}(r.bundleID()) * 31 + static_cast<std::size_t>(r.kind());
    }
};
