#include "agent/permissions/Requirement.h"

#include "agent/support/PlatformText.h"

namespace kx {

const std::vector<Requirement>& Requirement::onboarding() {
    static const std::vector<Requirement> list{accessibility(), tmux()};
    return list;
}

std::string Requirement::title() const {
    switch (kind_) {
        case Kind::automation: return "Control " + bundleID_;
        case Kind::accessibility: return "Accessibility";
        case Kind::inputMonitoring: return "Input Monitoring";
        case Kind::tmux: return "tmux";
    }
    return {};
}

std::string Requirement::rationale() const {
    switch (kind_) {
        case Kind::automation: return "Lets Kestrix talk to " + bundleID_ + " directly, without faking keystrokes.";
        case Kind::accessibility: return PlatformText::accessibilityRationale;
        case Kind::inputMonitoring: return "Lets Kestrix notice global hotkeys.";
        case Kind::tmux: return "Runs the terminal sessions you control from your phone.";
    }
    return {};
}

Necessity Requirement::necessity() const {
    switch (kind_) {
        case Kind::accessibility: return Necessity::blocking;
        case Kind::tmux: return Necessity::advisory;
        case Kind::automation:
        case Kind::inputMonitoring: return Necessity::deferred;
    }
    return Necessity::deferred;
}

bool Requirement::requiresRelaunchAfterGrant() const {
    return (kind_ == Kind::accessibility || kind_ == Kind::inputMonitoring) &&
           PlatformText::grantTakesEffectAfterRelaunch;
}

std::optional<std::string> Requirement::settingsURL() const {
    const std::string prefix = PlatformText::privacySettingsURLPrefix;
    if (prefix.empty()) return std::nullopt;
    switch (kind_) {
        case Kind::automation: return prefix + "Privacy_Automation";
        case Kind::accessibility: return prefix + "Privacy_Accessibility";
        case Kind::inputMonitoring: return prefix + "Privacy_ListenEvent";
        case Kind::tmux: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> Requirement::remediation() const {
    if (kind_ == Kind::tmux) return std::string(PlatformText::tmuxInstallCommand);
    return std::nullopt;
}

}  // namespace kx
