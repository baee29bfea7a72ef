#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "agent/support/ChildProcess.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/platform/input/PrivateXServer.h"

using namespace kx;
using namespace kx::e2e;
using kx::test::PrivateXServer;

// Requests a phone sends back to back without waiting for the answers take effect in the order
// sent when they act on the same thing (a real tmux session's are SessionsTest's).

namespace {

constexpr const char* kXdotool = "/usr/bin/xdotool";  // Debian's xdotool package

std::pair<int, int> pointerOn(const PrivateXServer& server) {
    auto result = ChildProcess::run(
        kXdotool, {"getmouselocation", "--shell"},
        {.environment = std::vector<std::string>{"DISPLAY=" + server.name()}, .timeLimit = std::chrono::seconds(10)});
    int x = -1, y = -1;
    std::sscanf(result.standardOutput.c_str(), "X=%d\nY=%d", &x, &y);
    return {x, y};
}

}  // namespace

// The real X path through the agent, on a display of its own so that nothing else on the test
// machine owns its clipboard meanwhile. What each input does on the display is X11EventPosterTest's,
// what other applications set and paste X11ClipboardTest's.
TEST(Ordering, PipelinedPointerMovesAndClipboardCallsTakeEffectInTheOrderSent) {
    PrivateXServer display;
    if (!display.number()) GTEST_SKIP() << "Xvfb is not available";
    AgentProcess agent({.environment = {"DISPLAY=" + display.name()}});
    auto client = connectClient(pairClient(agent));
    const auto& caps = client->auth().caps;
    EXPECT_NE(std::find(caps.begin(), caps.end(), "clipboard.text"), caps.end());
    client->call("input.pointer.move", {{"dx", -1e6}, {"dy", -1e6}});
    ASSERT_EQ(pointerOn(display), std::make_pair(0, 0));

    // 600 steps right and 400 down, interleaved, all inside the 640 by 480 screen.
    std::vector<PendingCall> moves, clipboard;
    for (int i = 0; i < 1000; ++i)
        moves.push_back(
            client->callAsync("input.pointer.move", {{"dx", i % 5 < 3 ? 1 : 0}, {"dy", i % 5 < 3 ? 0 : 1}}));
    for (const char* text : {"one", "two \xE2\x9C\x93"}) {
        clipboard.push_back(client->callAsync("clipboard.set", {{"text", text}}));
        clipboard.push_back(client->callAsync("clipboard.get"));
    }
    awaitAll(moves);
    EXPECT_EQ(pointerOn(display), std::make_pair(600, 400));
    EXPECT_EQ(awaitAll(clipboard),
              (std::vector<JSONObject>{{}, {{"text", "one"}}, {}, {{"text", "two \xE2\x9C\x93"}}}));
}
