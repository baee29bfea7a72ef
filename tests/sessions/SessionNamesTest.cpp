#include <gtest/gtest.h>

#include "agent/sessions/SessionController.h"

using namespace kx;
using Session = SessionController::Session;

TEST(SessionNames, SanitiseMakesNamesThatPassTheIdentifierRuleAndTheRuleHolds) {
    const std::pair<std::string, std::string> cases[] = {
        {"My Project!", "my-project"},
        {"?!* ...", "session"},
        {"", "session"},
        {"a  b", "a--b"},  // runs of "-" are kept
        {"Ünïcode Ωmega 42", "ünïcode-ωmega-42"},
        {"x_y", "x-y"},
        {std::string(70, 'A'), std::string(40, 'a')},
        {std::string(39, 'b') + " tail", std::string(39, 'b')},  // cut before trimming: a final "-" goes
    };
    for (const auto& [name, sanitised] : cases) EXPECT_EQ(SessionController::sanitise(name), sanitised) << name;
    EXPECT_TRUE(
        SessionController::isValidSessionID(std::string(SessionController::prefix) + std::string(40, 'a') + "-99"));
    // The identifier rule itself.
    EXPECT_TRUE(SessionController::isValidSessionID("kx-a"));
    EXPECT_TRUE(SessionController::isValidSessionID("kx-shell_2-Ω٣"));
    EXPECT_TRUE(SessionController::isValidSessionID("kx-" + std::string(61, 'x')));
    EXPECT_FALSE(SessionController::isValidSessionID("kx-" + std::string(62, 'x')));
    EXPECT_FALSE(SessionController::isValidSessionID("kx-"));
    EXPECT_FALSE(SessionController::isValidSessionID("work"));
    EXPECT_FALSE(SessionController::isValidSessionID("KX-shell"));
    for (const char* bad : {"kx-a b", "kx-a:1", "kx-a.1", "kx-*", "kx-a|b", "kx-\xff", "kx-a\n"})
        EXPECT_FALSE(SessionController::isValidSessionID(bad)) << bad;
}

TEST(SessionNames, ListParsingKeepsOurSessionsWithDefaultsForBadNumbers) {
    auto sessions = SessionController::parseSessions(
        "1700000000|120|40|kx-shell\n"
        "\n"
        "1700000001|80|24|work\n"
        "x|wide|tall|kx-odd\n"
        "1700000002|100|30\n"
        "1700000003|100|30|kx-a|b\n"
        "1700000004|90|25|kx-last");
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_EQ(sessions[0], (Session{"kx-shell", "shell", 1700000000, 120, 40, true}));
    EXPECT_EQ(sessions[1], (Session{"kx-odd", "odd", 0, 80, 24, true}));
    EXPECT_EQ(sessions[2], (Session{"kx-last", "last", 1700000004, 90, 25, true}));
    EXPECT_TRUE(SessionController::parseSessions("").empty());
}
