#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "agent/pairing/PairedDevice.h"
#include "agent/permissions/OnboardingStep.h"
#include "agent/transport/TransportState.h"
#include "app/model/Theme.h"

namespace kx::MenuTexts {

struct Styled {
    std::string text;
    ThemeColour colour;
    friend bool operator==(const Styled&, const Styled&) = default;
};

// A device seen this recently reads "Online".
inline constexpr std::chrono::seconds onlineWithin{20};
// The pairing code's expiry line turns to the warning colour at this many seconds.
inline constexpr int expiryWarningSeconds = 14;

// The header's status line and the colour of its orb.
Styled status(const OnboardingStep& step, const TransportState& transport, std::size_t connections);
// "NAME · port N" while listening.
std::optional<std::string> listeningLine(const std::string& agentName, const TransportState& transport);
// "Expires in Ns", in the warning colour from 14 seconds down.
Styled expiryLine(int secondsRemaining);
// "never connected", "Online", or "seen " and an abbreviated relative time ("seen 3 min ago").
std::string lastSeen(const PairedDevice& device, std::chrono::system_clock::time_point now);
// "Ringing your phone", "Ringing 2 phones", "No phones connected".
std::string ringResult(std::size_t connections);
// A freedesktop icon name for the device's platform.
std::string deviceIconName(const PairedDevice& device);

// The onboarding window's step panel.
struct OnboardingPanel {
    std::string title;
    std::string body;
    ThemeColour orb;
    bool pulsing = false;
    bool settingsButton = false;  // where the platform has a settings pane to open
    bool checkAgainButton = false;
    bool relaunchButton = false;
    std::string help;         // shown under a blocking step, may be empty
    std::string helpCommand;  // a copyable command, may be empty
};
// `waylandOnly`: no X display is reachable but a Wayland one is.
OnboardingPanel onboardingPanel(const OnboardingStep& step, bool waylandOnly);

// One line of the advisory strip and the command that fixes it, if any.
struct Advisory {
    std::string text;
    std::string command;
};
std::vector<Advisory> advisories(const std::vector<Requirement>& requirements);

}  // namespace kx::MenuTexts
