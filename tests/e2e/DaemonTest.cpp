#include <gtest/gtest.h>

#include "client/ClientError.h"
#include "client/DevicePairing.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/Eventually.h"

using namespace kx;
using namespace kx::e2e;

// One paired phone through every control command that reaches it: status, devices, ring,
// disconnect, resume and revoke; then an unknown command and a clean stop.
TEST(Daemon, ControlCommandsReachThePairedPhoneThenTheAgentStopsCleanly) {
    AgentProcess agent;
    ClientState phone = pairClient(agent);
    auto client = connectClient(phone);

    EXPECT_TRUE(agent.statusShows("transport: listening on port " + std::to_string(agent.port())));
    EXPECT_TRUE(agent.statusShows("connections: 1"));
    EXPECT_TRUE(agent.statusShows("paired devices: 1"));
    EXPECT_TRUE(eventually([&] {
        auto devices = agent.controlJSON({"devices"}).asArray();
        return devices.size() == 1 && devices[0].asObject().at("id") == JSONValue(phone.deviceId) &&
               devices[0].asObject().at("name") == JSONValue("test phone") &&
               devices[0].asObject().contains("lastSeen");
    }));
    EXPECT_TRUE(has(agent.control({"devices"}).standardOutput, phone.deviceId));

    EXPECT_EQ(agent.controlJSON({"ring"}).asObject().at("connections"), JSONValue(1));
    auto ring = client->nextEvent(std::chrono::seconds(5));
    ASSERT_TRUE(ring.has_value());
    EXPECT_EQ(ring->m, "device.ring");

    EXPECT_TRUE(agent.control({"disconnect"}).succeeded());
    EXPECT_TRUE(eventually([&] { return !client->isOpen(); }));
    EXPECT_THROW(connectClient(phone), ClientError);
    EXPECT_TRUE(agent.statusShows("transport: stopped"));
    EXPECT_EQ(agent.controlJSON({"resume"}).asObject().at("port"), JSONValue(agent.port()));
    EXPECT_TRUE(agent.control({"resume"}).succeeded());  // resuming while listening changes nothing
    client = connectClient(phone);
    EXPECT_NO_THROW(client->call("agent.ping"));

    // What a revoke does to the phone is StateFilesTest's; here, a second revoke of the same id.
    EXPECT_TRUE(agent.control({"revoke", phone.deviceId}).succeeded());
    auto unknown = agent.control({"revoke", phone.deviceId});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(has(unknown.standardError, "no paired device has the id " + phone.deviceId));

    // Clear errors, then a clean stop. A command for a data folder without an agent is ControlServerTest's.
    auto frobnicate = agent.control({"frobnicate"});
    EXPECT_EQ(frobnicate.exitCode, 1);
    EXPECT_TRUE(has(frobnicate.standardError, "unknown command"));

    EXPECT_EQ(agent.stop(), 0);
    EXPECT_TRUE(has(agent.errorOutput(), "stopping on SIGTERM"));
}

// The code --pair prints pairs; a code nobody uses is reported closed once it lapses.
TEST(Daemon, PairingCodesFromTheFlagAndTheCommandCloseWhenUsedOrLapsed) {
    AgentProcess agent({.arguments = {"--pair"}});
    ASSERT_TRUE(eventually([&] { return has(agent.standardOutput(), "\"token\""); }));
    std::string output = agent.standardOutput();
    auto start = output.find("{\"fp\"");
    ASSERT_NE(start, std::string::npos);
    PairingPayload code = PairingPayload::decode(output.substr(start, output.find('\n', start) - start));
    EXPECT_EQ(code.port, agent.port());
    code.host = "127.0.0.1";
    EXPECT_NO_THROW(pairWithCode(code));
    EXPECT_TRUE(agent.waitForErrorOutput("pairing code closed (used or expired)"));

    AgentProcess lapsing({.environment = {"KX_PAIRING_LIFETIME=1"}});
    ASSERT_TRUE(lapsing.control({"pair"}).succeeded());
    EXPECT_FALSE(has(lapsing.errorOutput(), "pairing code closed"));
    EXPECT_TRUE(lapsing.waitForErrorOutput("pairing code closed (used or expired)"));
}

// The second agent has a runtime folder of its own, so its control socket would not collide:
// the data folder's lock alone turns it away, naming the process that holds the folder.
TEST(Daemon, ASecondAgentOnTheSameDataFolderNamesTheHolderAndExitsNonZero) {
    AgentProcess first;
    AgentProcess second({.waitUntilListening = false, .dataFolder = first.dataFolder()});
    EXPECT_EQ(second.waitForExit(), 1);
    EXPECT_TRUE(has(second.errorOutput(), "another agent is already running for data folder " +
                                              first.dataFolder().string() + " (process " + std::to_string(first.pid()) +
                                              ")"))
        << second.errorOutput();
    EXPECT_EQ(first.stop(), 0);
    // Once the holder has ended, the folder is free again.
    AgentProcess third({.dataFolder = first.dataFolder()});
    EXPECT_GT(third.port(), 0);
}
