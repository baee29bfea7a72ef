#include <gtest/gtest.h>

#include <fstream>

#include "protocol/Base64URL.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/update/LocalHTTPSServer.h"
#include "tests/update/TestManifests.h"

using namespace kx;
using namespace kx::e2e;
using namespace kx::testing;

// After a good check, a check that fails (a manifest signed by another key, a host that answers
// 404) must say so and exit non-zero instead of repeating the earlier result.
TEST(UpdateCheck, AFailedCheckIsReportedAsAFailureAfterAGoodOne) {
    LocalHTTPSServer server;
    if (!server.ready()) GTEST_SKIP() << "python3 or openssl missing: no local HTTPS server";
    const std::string manifestPath = "/updates/agent.json";
    server.serveBody(manifestPath, signedManifest({.version = "0.0.1"}));
    TempFolder folder;
    auto keyFile = folder / "update-public-key.txt";
    std::ofstream(keyFile) << base64URLEncode(testPublicKey()) << "\n";
    AgentProcess agent(
        {.environment = {"KX_UPDATE_BASE_URL=" + server.baseURL(), "KX_UPDATE_CA_FILE=" + server.caFile().string(),
                         "KX_UPDATE_PUBLIC_KEY_FILE=" + keyFile.string(),
                         "XDG_CONFIG_HOME=" + (folder / "config").string()}});
    auto good = agent.control({"check-update"});
    ASSERT_TRUE(good.succeeded()) << good.standardError;
    EXPECT_TRUE(has(good.standardOutput, "is up to date")) << good.standardOutput;

    auto otherKey = manifestObject({.version = "999.0.0"});
    Key32 otherSeed{};
    otherSeed.fill(7);
    struct Row {
        std::function<void()> serve;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {[&] {
             server.serveBody(manifestPath,
                              signManifest(CanonicalJSON::serialize(CanonicalJSON::Value(otherKey)), otherSeed));
         },
         "Update check failed: "},
        {[&] { server.serveStatus(manifestPath, 404); }, "Update check failed: Unexpected manifest response"},
    };
    for (const auto& row : rows) {
        row.serve();
        auto failed = agent.control({"check-update"});
        EXPECT_FALSE(failed.succeeded());
        EXPECT_TRUE(has(failed.standardError, row.expected)) << failed.standardError;
        EXPECT_FALSE(has(failed.standardOutput, "up to date")) << failed.standardOutput;
    }
    // The last good result still stands for the menu and the phones.
    EXPECT_TRUE(agent.statusShows("updates: upToDate"));
}
