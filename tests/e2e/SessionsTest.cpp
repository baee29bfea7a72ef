#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/sessions/CommandRegistry.h"
#include "agent/support/ChildProcess.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::e2e;

namespace {

constexpr auto kScreenWait = std::chrono::milliseconds(15000);

bool hasLine(const std::string& screen, const std::string& wanted) {
    std::istringstream lines(screen);
    for (std::string line; std::getline(lines, line);) {
        line.erase(line.find_last_not_of(' ') + 1);
        if (line == wanted) return true;
    }
    return false;
}

// A template running plain /bin/sh, so that no login profile of the machine slows the test.
void writeCommandsFile(const std::filesystem::path& dataFolder) {
    std::filesystem::create_directories(dataFolder);
    std::ofstream(dataFolder / CommandRegistry::kFileName) << R"({"commands": [], "templates": [
        {"id": "t_sh", "name": "Plain shell", "icon": "terminal", "cwd": "/", "program": "/bin/sh"}]})";
}

}  // namespace

// The agent's tmux server lives in a folder of the test's own (TMUX_TMPDIR in the agent's
// environment), so no user's tmux is touched; it is ended afterwards.
TEST(Sessions, PhoneCreatesASessionTypesAndReadsTheOutputBack) {
    auto tmux = SystemPermissionProbe().tmuxPath();
    if (!tmux) GTEST_SKIP() << "tmux is not installed";
    kx::testing::TempFolder folder;
    const std::string tmuxEnvironment = "TMUX_TMPDIR=" + folder.path().string();
    AgentProcess::Options options;
    options.environment = {tmuxEnvironment};
    options.dataFolder = folder.path() / "data";
    writeCommandsFile(*options.dataFolder);
    AgentProcess agent(options);
    auto client = connectClient(pairClient(agent));

    auto caps = client->call("agent.info").at("caps").asArray();
    EXPECT_NE(std::find(caps.begin(), caps.end(), JSONValue("session.tmux")), caps.end());
    auto templates = client->call("templates.list").at("templates").asArray();
    ASSERT_EQ(templates.size(), 1u);
    EXPECT_EQ(templates[0].asObject().at("templateId"), JSONValue("t_sh"));

    auto id = client->call("session.create", JSONObject{{"templateId", "t_sh"}}).at("id").asString();
    EXPECT_EQ(id, "kx-plain-shell");
    client->call("session.text", JSONObject{{"id", id}, {"text", "echo hello"}});
    client->call("session.key", JSONObject{{"id", id}, {"key", "enter"}});
    std::string screen;
    EXPECT_TRUE(eventually(
        [&] {
            screen = client->call("session.capture", JSONObject{{"id", id}}).at("text").asString();
            return hasLine(screen, "hello");
        },
        kScreenWait))
        << screen;

    client->call("session.kill", JSONObject{{"id", id}});
    EXPECT_TRUE(client->call("session.list").at("sessions").asArray().empty());
    ChildProcess::run(*tmux, {"kill-server"}, {.environment = std::vector<std::string>{tmuxEnvironment}});
}
