#include <gtest/gtest.h>

#include <fstream>

#include "protocol/Base64URL.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/update/LocalHTTPSServer.h"
#include "tests/update/TestManifests.h"

using namespace kx;
using namespace kx::e2e;
using namespace kx::testing;

// The key named by KX_UPDATE_PUBLIC_KEY_FILE checks the manifest. How the statuses reach a phone is
// SelfUpdateTest's and UpdateStatusTest's.
TEST(Update, TheKeyFileNamedInTheEnvironmentAcceptsANewerRelease) {
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
    EXPECT_TRUE(agent.statusShows("updates: idle"));
    auto check = agent.control({"check-update"});
    ASSERT_TRUE(check.succeeded()) << check.standardError;
    EXPECT_TRUE(has(check.standardOutput, "Update available: 999.0.0")) << check.standardOutput;
    EXPECT_TRUE(agent.statusShows("updates: available (Update available: 999.0.0)"));
}

TEST(Update, WithoutAnUpdateHostChecksAreRefused) {
    TempFolder folder;
    AgentProcess agent({.environment = {"KX_UPDATE_BASE_URL=", "XDG_CONFIG_HOME=" + (folder / "config").string()}});
    auto check = agent.control({"check-update"});
    EXPECT_FALSE(check.succeeded());
    EXPECT_TRUE(has(check.standardError, "updates are off")) << check.standardError;
    EXPECT_TRUE(agent.statusShows("updates: off"));
}
