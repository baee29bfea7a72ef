#include <gtest/gtest.h>

#include <sstream>

#include "agent/support/ChildProcess.h"
#include "client/DevicePairing.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::e2e;

namespace {

bool avahiRunning() {
    try {
        return ChildProcess::run("/usr/sbin/avahi-daemon", {"--check"}).succeeded();
    } catch (const std::system_error&) {
        return false;
    }
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) parts.push_back(part);
    return parts;
}

// The TXT field of the resolved "_kestrix._tcp" service on `port`, as avahi-browse prints it.
std::optional<std::string> browsedTXT(std::uint16_t port) {
    auto browse =
        ChildProcess::run("/usr/bin/avahi-browse", {"-rtp", "_kestrix._tcp"}, {.timeLimit = std::chrono::seconds(10)});
    for (const auto& line : split(browse.standardOutput, '\n')) {
        auto fields = split(line, ';');
        constexpr std::size_t portField = 8, txtField = 9;
        if (fields.size() > txtField && fields[0] == "=" && fields[portField] == std::to_string(port))
            return fields[txtField];
    }
    return std::nullopt;
}

}  // namespace

TEST(Advertising, BrowserSeesTheServiceWithItsThreeKeys) {
    if (!avahiRunning()) GTEST_SKIP() << "avahi-daemon is not running";
    AgentProcess agent({.advertise = true});
    PairingPayload code = agent.pairingCode();
    std::optional<std::string> txt;
    ASSERT_TRUE(eventually([&] { return (txt = browsedTXT(agent.port())).has_value(); }, std::chrono::seconds(20)))
        << agent.errorOutput();
    EXPECT_NE(txt->find("\"v=1\""), std::string::npos) << *txt;
    EXPECT_NE(txt->find("\"fp=" + code.fp + "\""), std::string::npos) << *txt;
    EXPECT_NE(txt->find("\"name=" + code.name + "\""), std::string::npos) << *txt;
    EXPECT_EQ(split(*txt, ' ').size(), 3u) << *txt;

    // Stopping withdraws the advertisement.
    EXPECT_TRUE(agent.control({"disconnect"}).succeeded());
    EXPECT_TRUE(eventually([&] { return !browsedTXT(agent.port()).has_value(); }, std::chrono::seconds(20)));
}

TEST(Advertising, AgentServesWithoutADNSSDDaemon) {
    // A system bus address that leads nowhere hides any avahi-daemon from the agent.
    kx::testing::TempFolder nowhere;
    AgentProcess agent(
        {.environment = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (nowhere / "none").string()}, .advertise = true});
    EXPECT_TRUE(agent.waitForErrorOutput("serving without an advertisement"));
    auto client = connectClient(pairClient(agent));
    EXPECT_TRUE(client->call("agent.ping").contains("t"));
}
