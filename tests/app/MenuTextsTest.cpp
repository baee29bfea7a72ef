#include <gtest/gtest.h>

#include "app/model/MenuTexts.h"

using namespace kx;
using namespace kx::MenuTexts;

namespace {
const OnboardingStep ready = OnboardingStep::ready();
}

TEST(MenuTexts, StatusTextAndColourForEveryTransportStateAndOnboardingStep) {
    struct Case {
        OnboardingStep step;
        TransportState transport;
        std::size_t connections;
        Styled expected;
    };
    const Case cases[] = {
        {ready, TransportState::listening(4242), 0, {"Ready to pair", Theme::ok}},
        {ready, TransportState::listening(4242), 1, {"1 device connected", Theme::accent}},
        {ready, TransportState::listening(4242), 2, {"2 devices connected", Theme::accent}},
        {ready, TransportState::failed("address in use"), 0, {"Listener failed", Theme::warn}},
        {ready, TransportState::stopped(), 0, {"Disconnected", Theme::textSecondary}},
        {ready, TransportState::starting(), 0, {"Starting\u2026", Theme::textSecondary}},
        // A step that is not ready wins over any transport state.
        {OnboardingStep::checking(), TransportState::listening(1), 1, {"Checking\u2026", Theme::warn}},
        {OnboardingStep::needs(Requirement::accessibility()),
         TransportState::listening(1),
         0,
         {"Needs Accessibility", Theme::warn}},
        {OnboardingStep::needsRelaunch(Requirement::accessibility()),
         TransportState::stopped(),
         0,
         {"Restart to finish", Theme::warn}},
    };
    for (const auto& c : cases) EXPECT_EQ(status(c.step, c.transport, c.connections), c.expected) << c.expected.text;

    EXPECT_EQ(listeningLine("box", TransportState::listening(4242)), "box \u00b7 port 4242");
    EXPECT_EQ(listeningLine("box", TransportState::stopped()), std::nullopt);
}

// The thresholds: the expiry line warns from fourteen seconds on, a phone reads as online for
// twenty seconds, and each unit of "seen ... ago" starts at its first whole count.
TEST(MenuTexts, ExpiryWarningOnlineTimeAndLastSeenUnitsChangeAtTheirThresholds) {
    EXPECT_EQ(expiryLine(15), (Styled{"Expires in 15s", Theme::textSecondary}));
    EXPECT_EQ(expiryLine(14), (Styled{"Expires in 14s", Theme::warn}));
    const auto now = std::chrono::system_clock::now();
    auto seen = [&](std::optional<std::chrono::seconds> ago) {
        PairedDevice device;
        if (ago) device.lastSeen = now - *ago;
        return lastSeen(device, now);
    };
    using std::chrono::seconds;
    const std::pair<std::optional<seconds>, std::string> rows[] = {
        {std::nullopt, "never connected"},       {seconds(19), "Online"},
        {seconds(20), "seen 20 sec ago"},        {seconds(180), "seen 3 min ago"},
        {seconds(2 * 3600), "seen 2 hr ago"},    {seconds(86400), "seen 1 day ago"},
        {seconds(3 * 86400), "seen 3 days ago"},
    };
    for (const auto& [ago, text] : rows) EXPECT_EQ(seen(ago), text);
    EXPECT_EQ(ringResult(1), "Ringing your phone");
    EXPECT_EQ(ringResult(2), "Ringing 2 phones");
}

#if !defined(__APPLE__)
// Linux: no settings pane to open, the Wayland reason for input, and apt for what is missing.
TEST(MenuTexts, OnboardingPanelsSpeakOfThisComputer) {
    auto needs = onboardingPanel(OnboardingStep::needs(Requirement::accessibility()), false);
    EXPECT_FALSE(needs.settingsButton);
    EXPECT_TRUE(needs.checkAgainButton);
    EXPECT_NE(needs.help.find("DISPLAY"), std::string::npos);
    auto wayland = onboardingPanel(OnboardingStep::needs(Requirement::accessibility()), true);
    EXPECT_NE(wayland.body.find("input needs an X11 session"), std::string::npos) << wayland.body;
    auto lines = advisories({Requirement::tmux()});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].command, "sudo apt install tmux");
}
#endif
