#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/support/ChildProcess.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::e2e;

// The agent's tmux server outlives the agent, so it must hold none of the agent's sockets: the agent then
// starts again on its port while the terminal session lives on.
TEST(Sessions, PhoneTypesIntoASessionInOrderAndItOutlivesAnAgentRestartOnTheSamePort) {
    auto tmux = SystemPermissionProbe().tmuxPath();
    if (!tmux) GTEST_SKIP() << "tmux is not installed";
    kx::testing::TempFolder folder;
    AgentProcess::Options options = AgentProcess::withPlainShell(folder.path());
    auto agent = std::make_unique<AgentProcess>(options);
    const auto state = pairClient(*agent);
    auto client = connectClient(state);
    auto caps = client->call("agent.info").at("caps").asArray();
    EXPECT_NE(std::find(caps.begin(), caps.end(), JSONValue("session.tmux")), caps.end());

    auto id = client->call("session.create", JSONObject{{"templateId", "t_sh"}}).at("id").asString();

    // Text and Enter sent back to back take effect in the order sent.
    // Each command appends its line to a file: the shell's output and the terminal's echo of
    // what is typed ahead may interleave on the screen, the file only sees whole commands.
    const std::filesystem::path written = folder / "written.txt";
    constexpr int lines = 20;
    std::vector<PendingCall> calls;
    std::string expected;
    for (int i = 0; i < lines; ++i) {
        const std::string line = "L" + std::to_string(i);
        calls.push_back(client->callAsync(
            "session.text", JSONObject{{"id", id}, {"text", "echo " + line + " >> " + written.string()}}));
        calls.push_back(client->callAsync("session.key", JSONObject{{"id", id}, {"key", "enter"}}));
        expected += line + "\n";
    }
    awaitAll(calls);
    auto contents = [&] {
        std::ifstream file(written);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    EXPECT_TRUE(eventually([&] { return contents().size() >= expected.size(); }, std::chrono::seconds(15)));
    EXPECT_EQ(contents(), expected);

    client.reset();
    options.port = agent->port();
    agent->stop();
    ASSERT_NO_THROW(agent = std::make_unique<AgentProcess>(options)) << "a child holds the agent's listener";
    client = connectClient(state);
    auto sessions = client->call("session.list").at("sessions").asArray();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].asObject().at("id"), JSONValue(id));
    client->call("session.kill", JSONObject{{"id", id}});
    EXPECT_TRUE(client->call("session.list").at("sessions").asArray().empty());
    ChildProcess::run(*tmux, {"kill-server"}, {.environment = options.environment});
}
