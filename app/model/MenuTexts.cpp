#include "app/model/MenuTexts.h"

#include "agent/support/PlatformText.h"

namespace kx::MenuTexts {

Styled status(const OnboardingStep& step, const TransportState& transport, std::size_t connections) {
    switch (step.which) {
        case OnboardingStep::Case::needsRelaunch: return {"Restart to finish", Theme::warn};
        case OnboardingStep::Case::checking: return {"Checking\u2026", Theme::warn};
        case OnboardingStep::Case::needs: return {"Needs " + step.requirement->title(), Theme::warn};
        case OnboardingStep::Case::ready: break;
    }
    switch (transport.which) {
        case TransportState::Case::listening:
            if (connections == 0) return {"Ready to pair", Theme::ok};
            return {std::to_string(connections) + " device" + (connections == 1 ? "" : "s") + " connected",
                    Theme::accent};
        case TransportState::Case::failed: return {"Listener failed", Theme::warn};
        case TransportState::Case::stopped: return {"Disconnected", Theme::textSecondary};
        case TransportState::Case::starting: return {"Starting\u2026", Theme::textSecondary};
    }
    return {"", Theme::textSecondary};
}

std::optional<std::string> listeningLine(const std::string& agentName, const TransportState& transport) {
    if (transport.which != TransportState::Case::listening) return std::nullopt;
    return agentName + " \u00b7 port " + std::to_string(transport.port);
}

Styled expiryLine(int secondsRemaining) {
    return {"Expires in " + std::to_string(secondsRemaining) + "s",
            secondsRemaining <= expiryWarningSeconds ? Theme::warn : Theme::textSecondary};
}

std::string lastSeen(const PairedDevice& device, std::chrono::system_clock::time_point now) {
    using namespace std::chrono;
    if (!device.lastSeen) return "never connected";
    auto ago = duration_cast<seconds>(now - *device.lastSeen);
    if (ago < onlineWithin) return "Online";
    auto count = ago.count();
    if (count < 60) return "seen " + std::to_string(count) + " sec ago";
    if (count < 3600) return "seen " + std::to_string(count / 60) + " min ago";
    if (count < 86400) return "seen " + std::to_string(count / 3600) + " hr ago";
    auto days = count / 86400;
    return "seen " + std::to_string(days) + (days == 1 ? " day ago" : " days ago");
}

std::string ringResult(std::size_t connections) {
    if (connections == 0) return "No phones connected";
    if (connections == 1) return "Ringing your phone";
    return "Ringing " + std::to_string(connections) + " phones";
}

std::string deviceIconName(const PairedDevice& device) {
    return device.platform.find("ios") != std::string::npos ? "phone-apple-iphone" : "smartphone";
}

OnboardingPanel onboardingPanel(const OnboardingStep& step, bool waylandOnly) {
    OnboardingPanel panel;
    switch (step.which) {
        case OnboardingStep::Case::ready:
            panel.title = PlatformText::readyTitle;
            panel.body = PlatformText::readyNote;
            panel.orb = Theme::ok;
            break;
        case OnboardingStep::Case::checking:
            panel.title = PlatformText::checkingTitle;
            panel.body = "One moment.";
            panel.orb = Theme::accent;
            panel.pulsing = true;
            break;
        case OnboardingStep::Case::needs: {
            const Requirement& requirement = *step.requirement;
            bool accessibility = requirement.kind() == Requirement::Kind::accessibility;
            panel.title = requirement.title();
            panel.body = accessibility && waylandOnly && *PlatformText::accessibilityNeedsX11
                             ? PlatformText::accessibilityNeedsX11
                             : requirement.rationale();
            panel.orb = Theme::warn;
            panel.settingsButton = *PlatformText::openSettingsButton && requirement.settingsURL().has_value();
            panel.checkAgainButton = true;
            if (accessibility) {
                panel.help = PlatformText::accessibilityHelp;
                panel.helpCommand = PlatformText::accessibilityHelpCommand;
            }
            break;
        }
        case OnboardingStep::Case::needsRelaunch:
            panel.title = step.requirement->title() + " granted";
            panel.body = PlatformText::relaunchNote;
            panel.orb = Theme::warn;
            panel.relaunchButton = true;
            break;
    }
    return panel;
}

std::vector<Advisory> advisories(const std::vector<Requirement>& requirements) {
    std::vector<Advisory> lines;
    for (const auto& requirement : requirements)
        lines.push_back({requirement.title() + " is missing \u2014 " + requirement.rationale(),
                         requirement.remediation().value_or("")});
    return lines;
}

}  // namespace kx::MenuTexts
