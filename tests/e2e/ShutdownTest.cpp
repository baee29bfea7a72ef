#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "client/ClientError.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/TempFolder.h"

// Every agent here runs with KX_POWER_DRY_RUN, and each test makes sure the agent took it before
// a phone asks for anything: these tests run as root, where logind might really power off.

using namespace kx;
using namespace kx::e2e;

namespace {

constexpr const char* kDryRunAnnouncement = "power dry run: shutdown and restart are written to ";
constexpr auto kCountdownPatience = std::chrono::seconds(20);

// The agent, the file its dry run writes to, and a paired phone connected to it.
struct DryRunAgent {
    kx::testing::TempFolder folder;
    std::filesystem::path actions = folder.path() / "actions";
    AgentProcess agent;
    ClientState phoneState;
    std::unique_ptr<KxClient> phone;

    explicit DryRunAgent(std::vector<std::string> environment = {})
        : agent(options(actions, std::move(environment))),
          phoneState(pairClient(agent)),
          phone(connectClient(phoneState)) {}

    static AgentProcess::Options options(const std::filesystem::path& actions, std::vector<std::string> environment) {
        AgentProcess::Options options;
        options.environment = std::move(environment);
        options.environment.push_back("KX_POWER_DRY_RUN=" + actions.string());
        return options;
    }

    bool inDryRun() const {
        return agent.errorOutput().find(kDryRunAnnouncement + actions.string()) != std::string::npos;
    }

    std::string recorded() const {
        std::ifstream in(actions);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    JSONObject shutdown(JSONValue action) { return phone->call("system.shutdown", JSONObject{{"action", action}}); }

    std::string statusLine() const {
        const JSONValue status = agent.controlJSON({"status"});
        for (const auto& line : status.asObject().at("lines").asArray()) {
            if (line.asString().rfind("Shutdown: ", 0) == 0) return line.asString();
        }
        return "";
    }
};

}  // namespace

TEST(Shutdown, ThePersonAtTheComputerCancelsOrCarriesOutWhatThePhoneAskedFor) {
    DryRunAgent setup;
    ASSERT_TRUE(setup.inDryRun()) << setup.agent.errorOutput();
    EXPECT_EQ(setup.statusLine(), "Shutdown: none pending");

    EXPECT_EQ(setup.shutdown("restart"), (JSONObject{{"delaySeconds", 30}}));
    // The name shown is the paired phone's own.
    EXPECT_TRUE(setup.agent.waitForErrorOutput("Restarting in 30 seconds \u2014 requested from test phone"));
    const std::string pending = setup.statusLine();
    EXPECT_EQ(pending.rfind("Shutdown: Restarting in ", 0), 0u) << pending;
    EXPECT_NE(pending.find(" seconds \u2014 requested from test phone"), std::string::npos) << pending;

    auto cancelled = setup.agent.control({"shutdown", "cancel"});
    EXPECT_TRUE(cancelled.succeeded()) << cancelled.standardError;
    EXPECT_NE(cancelled.standardOutput.find("Cancelled the restart requested from test phone"), std::string::npos);
    EXPECT_EQ(setup.statusLine(), "Shutdown: none pending");
    auto again = setup.agent.control({"shutdown", "cancel"});
    EXPECT_FALSE(again.succeeded());
    EXPECT_NE(again.standardError.find("No shutdown or restart is pending."), std::string::npos) << again.standardError;

    EXPECT_FALSE(std::filesystem::exists(setup.actions)) << setup.recorded();

    EXPECT_EQ(setup.shutdown("shutdown"), (JSONObject{{"delaySeconds", 30}}));
    auto now = setup.agent.control({"shutdown", "now"});
    EXPECT_TRUE(now.succeeded()) << now.standardError;
    EXPECT_NE(now.standardOutput.find("Shutting down now, as requested from test phone"), std::string::npos);
    // Written before the command answered.
    EXPECT_EQ(setup.recorded(), "shutdown\n");
    EXPECT_EQ(setup.statusLine(), "Shutdown: none pending");
    EXPECT_EQ(setup.agent.stop(), 0);
}

TEST(Shutdown, ShortCountdownRecordsExactlyOneRestart) {
    DryRunAgent setup({"KX_SHUTDOWN_SECONDS=2"});
    ASSERT_TRUE(setup.inDryRun()) << setup.agent.errorOutput();
    EXPECT_EQ(setup.shutdown("restart"), (JSONObject{{"delaySeconds", 2}}));
    EXPECT_TRUE(eventually([&] { return !setup.recorded().empty(); }, kCountdownPatience));
    EXPECT_TRUE(setup.agent.waitForErrorOutput("shutdown countdown ended"));
    EXPECT_EQ(setup.statusLine(), "Shutdown: none pending");
    EXPECT_EQ(setup.agent.stop(), 0);
    EXPECT_EQ(setup.recorded(), "restart\n");
}
