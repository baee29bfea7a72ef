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

TEST(MenuTexts, ExpiryLineTurnsToTheWarningColourAtFourteenSeconds) {
    EXPECT_EQ(expiryLine(60), (Styled{"Expires in 60s", Theme::textSecondary}));
    EXPECT_EQ(expiryLine(15), (Styled{"Expires in 15s", Theme::textSecondary}));
    EXPECT_EQ(expiryLine(14), (Styled{"Expires in 14s", Theme::warn}));
    EXPECT_EQ(expiryLine(0), (Styled{"Expires in 0s", Theme::warn}));
}

TEST(MenuTexts, LastSeenLineReadsOnlineForTwentySeconds) {
    const auto now = std::chrono::system_clock::now();
    auto seen = [&](std::optional<std::chrono::seconds> ago) {
        PairedDevice device;
        if (ago) device.lastSeen = now - *ago;
        return lastSeen(device, now);
    };
    using std::chrono::seconds;
    EXPECT_EQ(seen(std::nullopt), "never connected");
    EXPECT_EQ(seen(seconds(0)), "Online");
    EXPECT_EQ(seen(seconds(19)), "Online");
    EXPECT_EQ(seen(seconds(20)), "seen 20 sec ago");
    EXPECT_EQ(seen(seconds(180)), "seen 3 min ago");
    EXPECT_EQ(seen(seconds(2 * 3600)), "seen 2 hr ago");
    EXPECT_EQ(seen(seconds(86400)), "seen 1 day ago");
    EXPECT_EQ(seen(seconds(3 * 86400)), "seen 3 days ago");
}

TEST(MenuTexts, RingResultAndIcons) {
    EXPECT_EQ(ringResult(0), "No phones connected");
    EXPECT_EQ(ringResult(1), "Ringing your phone");
    EXPECT_EQ(ringResult(2), "Ringing 2 phones");
    PairedDevice phone;
    phone.platform = "ios";
    EXPECT_EQ(deviceIconName(phone), "phone-apple-iphone");
    phone.platform = "android";
    EXPECT_EQ(deviceIconName(phone), "smartphone");
}

#if !defined(__APPLE__)
// Linux: no settings pane to open, no restart after a grant, and the Wayland reason for input.
TEST(MenuTexts, OnboardingPanelsSpeakOfThisComputer) {
    auto readyPanel = onboardingPanel(ready, false);
    EXPECT_EQ(readyPanel.title, "This computer is ready");
    EXPECT_EQ(readyPanel.orb, Theme::ok);

    auto checking = onboardingPanel(OnboardingStep::checking(), false);
    EXPECT_EQ(checking.title, "Checking your computer");
    EXPECT_TRUE(checking.pulsing);

    auto needs = onboardingPanel(OnboardingStep::needs(Requirement::accessibility()), false);
    EXPECT_EQ(needs.title, "Accessibility");
    EXPECT_EQ(needs.body, "Lets Kestrix press keys and move the pointer on your computer.");
    EXPECT_FALSE(needs.settingsButton);
    EXPECT_TRUE(needs.checkAgainButton);
    EXPECT_NE(needs.help.find("DISPLAY"), std::string::npos);

    auto wayland = onboardingPanel(OnboardingStep::needs(Requirement::accessibility()), true);
    EXPECT_NE(wayland.body.find("input needs an X11 session"), std::string::npos) << wayland.body;

    auto lines = advisories({Requirement::tmux()});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "tmux is missing \u2014 Runs the terminal sessions you control from your phone.");
    EXPECT_EQ(lines[0].command, "sudo apt install tmux");
}
#endif
