#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/platform/input/PrivateXServer.h"

using namespace kx;
using namespace kx::e2e;
using kx::test::PrivateXServer;

// The agent's own display, so that nothing else on the test machine owns its clipboard meanwhile;
// what other applications set and paste is X11ClipboardTest's.
TEST(Clipboard, APhoneSetsAndReadsTheClipboardOfTheAgentsDisplayInTheOrderItSent) {
    PrivateXServer display;
    if (!display.number()) GTEST_SKIP() << "Xvfb is not available";
    AgentProcess agent({.environment = {"DISPLAY=" + display.name()}});
    auto client = connectClient(pairClient(agent));
    const auto& caps = client->auth().caps;
    EXPECT_NE(std::find(caps.begin(), caps.end(), "clipboard.text"), caps.end());

    std::vector<PendingCall> calls;
    for (const char* text : {"one", "two \xE2\x9C\x93"}) {
        calls.push_back(client->callAsync("clipboard.set", {{"text", text}}));
        calls.push_back(client->callAsync("clipboard.get"));
    }
    std::vector<JSONObject> results;
    for (auto& call : calls) {
        ASSERT_EQ(call.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        results.push_back(call.get());
    }
    EXPECT_EQ(results, (std::vector<JSONObject>{{}, {{"text", "one"}}, {}, {{"text", "two \xE2\x9C\x93"}}}));
}
