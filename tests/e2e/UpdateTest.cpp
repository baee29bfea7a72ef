#include <gtest/gtest.h>

#include <fstream>

#include "protocol/Base64URL.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/update/LocalHTTPSServer.h"
#include "tests/update/TestManifests.h"

using namespace kx;
using namespace kx::e2e;
using namespace kx::testing;

namespace {

// The next "agent.update" event, skipping others.
std::optional<JSONObject> nextUpdateEvent(KxClient& client) {
    while (auto event = client.nextEvent(std::chrono::seconds(10)))
        if (event->m == "agent.update") return event->p.value_or(JSONObject{});
    return std::nullopt;
}

}  // namespace

TEST(Update, NewerReleaseReachesAConnectedPhoneAsEventAndStatus) {
    LocalHTTPSServer server;
    if (!server.ready()) GTEST_SKIP() << "python3 or openssl missing: no local HTTPS server";
    server.serveBody("/updates/agent.json", signedManifest({.version = "999.0.0", .minimumVersion = "0.0.1"}));
    TempFolder folder;
    auto keyFile = folder / "update-public-key.txt";
    std::ofstream(keyFile) << base64URLEncode(testPublicKey()) << "\n";
    AgentProcess agent(
        {.environment = {"KX_UPDATE_BASE_URL=" + server.baseURL(), "KX_UPDATE_CA_FILE=" + server.caFile().string(),
                         "KX_UPDATE_PUBLIC_KEY_FILE=" + keyFile.string(),
                         "XDG_CONFIG_HOME=" + (folder / "config").string()}});
    auto client = connectClient(pairClient(agent));
    EXPECT_EQ(client->call("agent.update.status").at("state"), JSONValue("idle"));

    auto check = agent.control({"check-update"});
    ASSERT_TRUE(check.succeeded()) << check.standardError;
    EXPECT_NE(check.standardOutput.find("Update available: 999.0.0"), std::string::npos) << check.standardOutput;
    EXPECT_EQ(nextUpdateEvent(*client), (JSONObject{{"state", "checking"}}));
    EXPECT_EQ(nextUpdateEvent(*client), (JSONObject{{"state", "available"}}));
    auto status = client->call("agent.update.status");
    EXPECT_EQ(status.at("state"), JSONValue("available"));
    EXPECT_EQ(status.at("available").asObject().at("version"), JSONValue("999.0.0"));
    EXPECT_EQ(status.at("available").asObject().at("required"), JSONValue(false));
    EXPECT_TRUE(agent.statusShows("updates: available (Update available: 999.0.0)"));
}

TEST(Update, WithoutAnUpdateHostChecksAreRefused) {
    TempFolder folder;
    AgentProcess agent({.environment = {"KX_UPDATE_BASE_URL=", "XDG_CONFIG_HOME=" + (folder / "config").string()}});
    auto check = agent.control({"check-update"});
    EXPECT_FALSE(check.succeeded());
    EXPECT_NE(check.standardError.find("updates are off"), std::string::npos) << check.standardError;
    EXPECT_TRUE(agent.statusShows("updates: off"));
}
