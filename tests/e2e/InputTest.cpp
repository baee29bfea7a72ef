#include <gtest/gtest.h>

#include <cstdio>

#include "agent/support/ChildProcess.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/platform/input/PrivateXServer.h"

using namespace kx;
using namespace kx::e2e;

namespace {

// The pointer position on a display, as the X server reports it (xdotool from Debian's package).
std::pair<int, int> pointerOn(const kx::test::PrivateXServer& server) {
    auto result = ChildProcess::run(
        "/usr/bin/xdotool", {"getmouselocation", "--shell"},
        {.environment = std::vector<std::string>{"DISPLAY=" + server.name()}, .timeLimit = std::chrono::seconds(10)});
    int x = -1, y = -1;
    std::sscanf(result.standardOutput.c_str(), "X=%d\nY=%d", &x, &y);
    return {x, y};
}

}  // namespace

// Parameter checks and refusals without a display are InputMethodsTest's; this is the real X path.
TEST(Input, ThePhoneMovesThePointerOnTheAgentsDisplay) {
    kx::test::PrivateXServer display;
    if (!display.number()) GTEST_SKIP() << "Xvfb is not available";
    AgentProcess::Options options;
    options.environment = {"DISPLAY=" + display.name()};
    AgentProcess agent(options);
    auto client = connectClient(pairClient(agent));

    const auto [x, y] = pointerOn(display);
    EXPECT_EQ(client->call("input.pointer.move", {{"dx", 25}, {"dy", -15}}), JSONObject{});
    EXPECT_EQ(pointerOn(display), std::make_pair(x + 25, y - 15));
    client->call("input.pointer.move", {{"dx", 1e6}, {"dy", 1e6}});
    EXPECT_EQ(pointerOn(display), std::make_pair(639, 479));  // the private display is 640 by 480

    for (auto [method, params] :
         std::initializer_list<std::pair<const char*, JSONObject>>{{"input.pointer.click", {{"count", 2}}},
                                                                   {"input.pointer.scroll", {{"dy", -120}}},
                                                                   {"input.key", {{"chord", "ctrl+shift+t"}}},
                                                                   {"input.text", {{"text", "héllo ✓ 👍"}}}})
        EXPECT_EQ(client->call(method, params), JSONObject{}) << method;
}
