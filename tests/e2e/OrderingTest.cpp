#include <gtest/gtest.h>

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
constexpr auto kCallWait = std::chrono::seconds(30);

std::pair<int, int> pointerOn(const PrivateXServer& server) {
    ChildProcess::Options options;
    options.environment = std::vector<std::string>{"DISPLAY=" + server.name()};
    options.timeLimit = std::chrono::seconds(10);
    auto result = ChildProcess::run(kXdotool, {"getmouselocation", "--shell"}, options);
    int x = -1, y = -1;
    std::sscanf(result.standardOutput.c_str(), "X=%d\nY=%d", &x, &y);
    return {x, y};
}

void awaitAll(std::vector<PendingCall>& calls) {
    for (auto& call : calls) {
        ASSERT_EQ(call.wait_for(kCallWait), std::future_status::ready);
        call.get();
    }
}

}  // namespace

// The real X path through the agent; what each input does on the display is X11EventPosterTest's.
TEST(Ordering, PipelinedPointerMovesLandOnTheSumOfTheirDeltas) {
    PrivateXServer display;
    if (!display.number()) GTEST_SKIP() << "Xvfb is not available";
    AgentProcess::Options options;
    options.environment = {"DISPLAY=" + display.name()};
    AgentProcess agent(options);
    auto client = connectClient(pairClient(agent));
    client->call("input.pointer.move", {{"dx", -1e6}, {"dy", -1e6}});
    ASSERT_EQ(pointerOn(display), std::make_pair(0, 0));

    // 600 steps right and 400 down, interleaved, all inside the 640 by 480 screen.
    std::vector<PendingCall> moves;
    for (int i = 0; i < 1000; ++i)
        moves.push_back(
            client->callAsync("input.pointer.move", {{"dx", i % 5 < 3 ? 1 : 0}, {"dy", i % 5 < 3 ? 0 : 1}}));
    awaitAll(moves);
    EXPECT_EQ(pointerOn(display), std::make_pair(600, 400));
}
