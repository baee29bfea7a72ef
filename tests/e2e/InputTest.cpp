#include <gtest/gtest.h>

#include <cstdio>

#include "agent/support/ChildProcess.h"
#include "client/ClientError.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/platform/input/PrivateXServer.h"

using namespace kx;
using namespace kx::e2e;
using kx::test::PrivateXServer;

namespace {

constexpr const char* kXdotool = "/usr/bin/xdotool";  // Debian's xdotool package

// The pointer position on a display, as the X server reports it.
std::pair<int, int> pointerOn(const PrivateXServer& server) {
    ChildProcess::Options options;
    options.environment = std::vector<std::string>{"DISPLAY=" + server.name()};
    options.timeLimit = std::chrono::seconds(10);
    auto result = ChildProcess::run(kXdotool, {"getmouselocation", "--shell"}, options);
    int x = -1, y = -1;
    std::sscanf(result.standardOutput.c_str(), "X=%d\nY=%d", &x, &y);
    return {x, y};
}

WireError errorOf(KxClient& client, const std::string& method, const JSONObject& params = {}) {
    try {
        client.call(method, params);
    } catch (const ErrorResponse& e) {
        return e.error;
    }
    ADD_FAILURE() << method << " succeeded";
    return {};
}

}  // namespace

TEST(Input, ThePhoneMovesThePointerOnTheAgentsDisplay) {
    PrivateXServer display;
    if (!display.number()) GTEST_SKIP() << "Xvfb is not available";
    AgentProcess::Options options;
    options.environment = {"DISPLAY=" + display.name()};
    AgentProcess agent(options);
    auto client = connectClient(pairClient(agent));

    const auto& caps = client->auth().caps;
    for (const char* cap : {"input.pointer", "input.key", "input.text"})
        EXPECT_NE(std::find(caps.begin(), caps.end(), cap), caps.end()) << cap;

    const auto [x, y] = pointerOn(display);
    EXPECT_EQ(client->call("input.pointer.move", {{"dx", 25}, {"dy", -15}}), JSONObject{});
    EXPECT_EQ(pointerOn(display), std::make_pair(x + 25, y - 15));
    client->call("input.pointer.move", {{"dx", 1e6}, {"dy", 1e6}});
    EXPECT_EQ(pointerOn(display), std::make_pair(639, 479));  // the private display is 640 by 480

    EXPECT_EQ(client->call("input.pointer.click", {{"count", 2}}), JSONObject{});
    EXPECT_EQ(client->call("input.pointer.scroll", {{"dy", -120}}), JSONObject{});
    EXPECT_EQ(client->call("input.key", {{"chord", "ctrl+shift+t"}}), JSONObject{});
    EXPECT_EQ(client->call("input.text", {{"text", "héllo ✓ 👍"}}), JSONObject{});
    EXPECT_EQ(errorOf(*client, "input.key", {{"chord", "cmd+c"}}), WireError::invalidParams("Unrecognised key chord"));
    EXPECT_EQ(errorOf(*client, "input.text"), WireError::invalidParams("text is required"));
}

TEST(Input, WithoutADisplayTheAgentServesTheRestAndRefusesInput) {
    AgentProcess::Options options;
    options.environment = {"DISPLAY=unix:65000"};  // nobody serves this display
    AgentProcess agent(options);
    auto client = connectClient(pairClient(agent));
    EXPECT_TRUE(client->call("agent.ping").at("t").isNumber());
    EXPECT_EQ(errorOf(*client, "input.pointer.move"),
              WireError(ErrorCode::permissionDenied, "Accessibility not granted",
                        JSONObject{{"permission", "accessibility"}}));
}
