#include <gtest/gtest.h>

#include "client/ClientError.h"
#include "client/DevicePairing.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/Eventually.h"

using namespace kx;
using namespace kx::e2e;

namespace {

std::vector<std::string> statusLines(const AgentProcess& agent) {
    std::vector<std::string> lines;
    JSONValue status = agent.controlJSON({"status"});
    for (const auto& line : status.asObject().at("lines").asArray()) lines.push_back(line.asString());
    return lines;
}

bool statusHas(const AgentProcess& agent, const std::string& line) {
    auto lines = statusLines(agent);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(Daemon, PhonePairsThroughTheControlCommandAndReconnects) {
    AgentProcess agent;
    ClientState phone = pairClient(agent);
    EXPECT_EQ(phone.port, agent.port());
    EXPECT_EQ(phone.deviceId.rfind("d_", 0), 0u);

    auto client = connectClient(phone);
    EXPECT_EQ(client->call("agent.info").at("name"), JSONValue(phone.agentName));

    EXPECT_TRUE(statusHas(agent, "transport: listening on port " + std::to_string(agent.port())));
    EXPECT_TRUE(statusHas(agent, "connections: 1"));
    EXPECT_TRUE(statusHas(agent, "paired devices: 1"));
    JSONArray devices = agent.controlJSON({"devices"}).asArray();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].asObject().at("id"), JSONValue(phone.deviceId));
    EXPECT_EQ(devices[0].asObject().at("name"), JSONValue("test phone"));
    EXPECT_TRUE(
        eventually([&] { return agent.controlJSON({"devices"}).asArray()[0].asObject().contains("lastSeen"); }));
    EXPECT_NE(agent.control({"devices"}).standardOutput.find(phone.deviceId), std::string::npos);
}

TEST(Daemon, RingAndRevokeCommandsReachThePhone) {
    AgentProcess agent;
    ClientState phone = pairClient(agent);
    auto client = connectClient(phone);
    EXPECT_TRUE(eventually([&] { return statusHas(agent, "connections: 1"); }));

    EXPECT_EQ(agent.controlJSON({"ring"}).asObject().at("connections"), JSONValue(1));
    auto ring = client->nextEvent(std::chrono::seconds(5));
    ASSERT_TRUE(ring.has_value());
    EXPECT_EQ(ring->m, "device.ring");

    auto revoked = agent.control({"revoke", phone.deviceId});
    EXPECT_TRUE(revoked.succeeded()) << revoked.standardError;
    EXPECT_TRUE(eventually([&] { return !client->isOpen(); }));
    EXPECT_THROW(connectClient(phone), ClientError);

    auto unknown = agent.control({"revoke", phone.deviceId});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.standardError.find("no paired device has the id " + phone.deviceId), std::string::npos);
}

TEST(Daemon, DisconnectAndResumeOnTheSamePort) {
    AgentProcess agent;
    ClientState phone = pairClient(agent);
    auto client = connectClient(phone);

    EXPECT_TRUE(agent.control({"disconnect"}).succeeded());
    EXPECT_TRUE(eventually([&] { return !client->isOpen(); }));
    EXPECT_THROW(connectClient(phone), ClientError);
    EXPECT_TRUE(statusHas(agent, "transport: stopped"));

    JSONValue resumed = agent.controlJSON({"resume"});
    EXPECT_EQ(resumed.asObject().at("port"), JSONValue(agent.port()));
    auto again = connectClient(phone);
    EXPECT_NO_THROW(again->call("agent.info"));
    // Resuming while listening changes nothing.
    EXPECT_TRUE(agent.control({"resume"}).succeeded());
    EXPECT_NO_THROW(again->call("agent.ping"));
}

TEST(Daemon, ClearErrorsAndACleanStop) {
    kx::testing::TempFolder nowhere;
    AgentProcess agent;
    auto noAgent =
        ChildProcess::run(AgentProcess::executable().string(), {"status", "--data-dir", nowhere.path().string()});
    EXPECT_EQ(noAgent.exitCode, 1);
    EXPECT_NE(noAgent.standardError.find("no agent is running for data folder"), std::string::npos);

    auto unknown = agent.control({"frobnicate"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.standardError.find("unknown command"), std::string::npos);

    AgentProcess::Options sameFolder;
    sameFolder.dataFolder = agent.dataFolder();
    sameFolder.runtimeFolder = agent.runtimeFolder();
    sameFolder.waitUntilListening = false;
    AgentProcess second(sameFolder);
    EXPECT_EQ(second.waitForExit(), 1);
    EXPECT_NE(second.errorOutput().find("another agent is already running for data folder"), std::string::npos);

    EXPECT_EQ(agent.stop(), 0);
    EXPECT_NE(agent.errorOutput().find("stopping on SIGTERM"), std::string::npos);
}

TEST(Daemon, PairFlagPrintsACodeAtStart) {
    AgentProcess::Options options;
    options.arguments = {"--pair"};
    AgentProcess agent(options);
    ASSERT_TRUE(eventually([&] { return agent.standardOutput().find("\"token\"") != std::string::npos; }));
    std::string output = agent.standardOutput();
    auto start = output.find("{\"fp\"");
    ASSERT_NE(start, std::string::npos);
    PairingPayload code = PairingPayload::decode(output.substr(start, output.find('\n', start) - start));
    EXPECT_EQ(code.port, agent.port());
    code.host = "127.0.0.1";
    EXPECT_NO_THROW(pairWithCode(code));
    EXPECT_TRUE(agent.waitForErrorOutput("pairing code closed (used or expired)"));
}

TEST(Daemon, ALapsedPairingCodeIsReported) {
    AgentProcess::Options options;
    options.environment = {"KX_PAIRING_LIFETIME=1"};
    AgentProcess agent(options);
    ASSERT_TRUE(agent.control({"pair"}).succeeded());
    EXPECT_EQ(agent.errorOutput().find("pairing code closed"), std::string::npos);
    EXPECT_TRUE(agent.waitForErrorOutput("pairing code closed (used or expired)"));
}
