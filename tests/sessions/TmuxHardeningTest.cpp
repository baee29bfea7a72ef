#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "agent/sessions/NewestLines.h"
#include "agent/sessions/SessionController.h"
#include "agent/sessions/UserPath.h"
#include "agent/support/AtomicFile.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using kx::testing::TempFolder;
using namespace std::chrono_literals;

namespace {

constexpr auto kPathLimit = std::chrono::milliseconds(2s);

// An executable shell script in `folder` running `body`.
std::string script(const TempFolder& folder, const std::string& name, const std::string& body) {
    auto path = folder / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path.string();
}

}  // namespace

TEST(NewestLines, DroppedLinesLeaveTheStyleInForceAtTheCut) {
    const std::string kept = "kept\n";
    const std::size_t room = maxCarriedStyleJSONBytes + 6;  // a style, then "kept\n" as JSON
    const std::vector<std::pair<std::string, std::string>> cases{
        {"plain\n", ""},
        {"\x1b[1m\x1b[31mA\x1b[44mB\x1b[4mC\n", "\x1b[1m\x1b[4m\x1b[31m\x1b[44m"},
        {"\x1b[1m\x1b[31m\x1b[58;5;3mA\x1b[0mB\n", "\x1b[0m"},
        {"\x1b[1m\x1b[0m\x1b[38;5;9mA\n\x1b[39mB\x1b[3mC\n", "\x1b[0m\x1b[3m\x1b[39m"}};
    const std::string filler(room, 'x');  // so that not everything fits
    for (const auto& [dropped, style] : cases)
        EXPECT_EQ(newestLines(filler + "\n" + dropped + kept, room), style + kept) << dropped;
    EXPECT_EQ(newestLines(kept, 6), kept);  // nothing dropped, nothing added
}

TEST(UserPath, TakesTheTrimmedPathTheLoginShellPrintsOrFallsBackWhenItMisbehaves) {
    TempFolder folder("shell");
    // The stand-in checks that it was asked the way a login shell is.
    auto good = script(folder, "good", R"([ "$1" = "-ilc" ] && [ "$2" = 'printf %s "$PATH"' ] || exit 1
printf '  /home/u/bin:/usr/bin\n'; echo noise >&2)");
    EXPECT_EQ(UserPath::discover(good, kPathLimit), "/home/u/bin:/usr/bin");

    // Otherwise the fallback.
    const std::pair<const char*, const char*> shells[] = {{"greeting", "echo 'Welcome!'; printf %s /x/bin"},
                                                          {"silent", "exit 0"},
                                                          {"binary", R"(printf '/x/\377bin')"},
                                                          {"slow", "sleep 30; printf %s /x/bin"},
                                                          {"plain", "printf %s /x/bin"}};
    for (const auto& [name, body] : shells) script(folder, name, body);
    ::chmod((folder / "plain").c_str(), 0644);  // not executable
    for (const std::string name : {"greeting", "silent", "binary", "slow", "plain", "absent"}) {
        auto limit = name == "slow" ? std::chrono::milliseconds(300ms) : kPathLimit;
        EXPECT_EQ(UserPath::discover((folder / name).string(), limit), UserPath::kFallback) << name;
    }
}

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
    EXPECT_EQ(sessions[0], (SessionController::Session{"kx-shell", "shell", 1700000000, 120, 40, true}));
    EXPECT_EQ(sessions[1], (SessionController::Session{"kx-odd", "odd", 0, 80, 24, true}));
    EXPECT_EQ(sessions[2], (SessionController::Session{"kx-last", "last", 1700000004, 90, 25, true}));
    EXPECT_TRUE(SessionController::parseSessions("").empty());
}
