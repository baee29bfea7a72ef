#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "agent/support/ChildProcess.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/platform/input/PrivateXServer.h"
#include "tests/support/Subprocess.h"

using namespace kx;
using namespace kx::e2e;
using kx::test::PrivateXServer;

namespace {

constexpr const char* kXclip = "/usr/bin/xclip";  // Debian's xclip package
constexpr auto kCallWait = std::chrono::seconds(30);

ChildProcess::Result xclip(const PrivateXServer& display, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-display", display.name(), "-selection", "clipboard"});
    ChildProcess::Options options;
    options.timeLimit = std::chrono::seconds(10);
    return ChildProcess::run(kXclip, arguments, options);
}

}  // namespace

// The agent's own display, so that nothing else on the test machine owns its clipboard meanwhile.
TEST(Clipboard, APhoneReadsAndSetsTheClipboardOfTheAgentsDisplayInTheOrderItSent) {
    PrivateXServer display;
    if (!display.number()) GTEST_SKIP() << "Xvfb is not available";
    AgentProcess agent({.environment = {"DISPLAY=" + display.name()}});
    auto client = connectClient(pairClient(agent));
    const auto& caps = client->auth().caps;
    EXPECT_NE(std::find(caps.begin(), caps.end(), "clipboard.text"), caps.end());

    // xclip serves the text until the agent takes the clipboard.
    kx::testing::Subprocess owner({kXclip, "-display", display.name(), "-quiet", "-selection", "clipboard", "-i"},
                                  {.pipeInput = true, .quiet = true});
    const std::string desk = "from the desk \xE2\x9C\x93";
    ASSERT_EQ(::write(owner.input(), desk.data(), desk.size()), static_cast<ssize_t>(desk.size()));
    owner.closeInput();
    EXPECT_TRUE(eventually([&] { return client->call("clipboard.get") == JSONObject{{"text", desk}}; }));

    std::vector<PendingCall> calls;
    for (const char* text : {"one", "two"}) {
        calls.push_back(client->callAsync("clipboard.set", {{"text", text}}));
        calls.push_back(client->callAsync("clipboard.get"));
    }
    std::vector<JSONObject> results;
    for (auto& call : calls) {
        ASSERT_EQ(call.wait_for(kCallWait), std::future_status::ready);
        results.push_back(call.get());
    }
    EXPECT_EQ(results, (std::vector<JSONObject>{{}, {{"text", "one"}}, {}, {{"text", "two"}}}));
    EXPECT_EQ(xclip(display, {"-o"}).standardOutput, "two");
}
