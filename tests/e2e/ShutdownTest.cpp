#include <gtest/gtest.h>

#include "agent/support/AtomicFile.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::e2e;

namespace {

std::string shutdownLine(const AgentProcess& agent) {
    const JSONValue status = agent.controlJSON({"status"});
    for (const auto& line : status.asObject().at("lines").asArray())
        if (line.asString().starts_with("Shutdown: ")) return line.asString();
    return "";
}

}  // namespace

// The agent runs with KX_POWER_DRY_RUN, and the test makes sure it took it before the phone asks
// for anything: these tests run as root, where logind might really power off. The countdown
// running out is ShutdownCountdownTest's.
TEST(Shutdown, ThePersonAtTheComputerCancelsOrCarriesOutWhatThePhoneAskedFor) {
    kx::testing::TempFolder folder;
    const auto actions = folder / "actions";
    AgentProcess agent({.environment = {"KX_POWER_DRY_RUN=" + actions.string()}});
    ASSERT_TRUE(has(agent.errorOutput(), "power dry run: shutdown and restart are written to " + actions.string()))
        << agent.errorOutput();
    auto phone = connectClient(pairClient(agent));
    auto shutdown = [&](const char* action) { return phone->call("system.shutdown", {{"action", action}}); };

    EXPECT_EQ(shutdown("restart"), (JSONObject{{"delaySeconds", 30}}));
    // The name shown is the paired phone's own.
    EXPECT_TRUE(agent.waitForErrorOutput("Restarting in 30 seconds \u2014 requested from test phone"));
    const std::string pending = shutdownLine(agent);
    EXPECT_TRUE(pending.starts_with("Shutdown: Restarting in ")) << pending;
    EXPECT_TRUE(has(pending, " seconds \u2014 requested from test phone")) << pending;

    auto cancelled = agent.control({"shutdown", "cancel"});
    EXPECT_TRUE(cancelled.succeeded()) << cancelled.standardError;
    EXPECT_TRUE(has(cancelled.standardOutput, "Cancelled the restart requested from test phone"));
    EXPECT_EQ(shutdownLine(agent), "Shutdown: none pending");
    auto again = agent.control({"shutdown", "cancel"});
    EXPECT_FALSE(again.succeeded());
    EXPECT_TRUE(has(again.standardError, "No shutdown or restart is pending.")) << again.standardError;
    EXPECT_FALSE(std::filesystem::exists(actions));

    EXPECT_EQ(shutdown("shutdown"), (JSONObject{{"delaySeconds", 30}}));
    auto now = agent.control({"shutdown", "now"});
    EXPECT_TRUE(now.succeeded()) << now.standardError;
    EXPECT_TRUE(has(now.standardOutput, "Shutting down now, as requested from test phone"));
    EXPECT_EQ(readWholeFile(actions), "shutdown\n");  // written before the command answered
    EXPECT_EQ(shutdownLine(agent), "Shutdown: none pending");
    EXPECT_EQ(agent.stop(), 0);
}
