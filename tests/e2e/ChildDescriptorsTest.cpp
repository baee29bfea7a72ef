#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/sessions/CommandRegistry.h"
#include "agent/support/ChildProcess.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::e2e;

namespace {

constexpr auto kTmuxLimit = std::chrono::milliseconds(10000);

// The "socket:[inode]" links among a process's open descriptors.
std::set<std::string> socketsOf(pid_t pid) {
    std::set<std::string> sockets;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        auto target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.starts_with("socket:")) sockets.insert(target);
    }
    return sockets;
}

// tmux with the test's private server folder; the server is ended when this goes.
struct PrivateTmux {
    std::string program;
    std::string environment;

    ChildProcess::Result run(const std::vector<std::string>& arguments) const {
        return ChildProcess::run(program, arguments,
                                 {.environment = std::vector<std::string>{environment}, .timeLimit = kTmuxLimit});
    }
    ~PrivateTmux() { run({"kill-server"}); }
};

}  // namespace

// The tmux server that session.create starts outlives the agent: it must hold none of the agent's
// sockets, so that the agent starts again on its port while the terminal sessions live on.
TEST(ChildDescriptors, TmuxHoldsNoSocketOfTheAgentWhichRestartsOnItsPort) {
    auto tmuxPath = SystemPermissionProbe().tmuxPath();
    if (!tmuxPath) GTEST_SKIP() << "tmux is not installed";
    kx::testing::TempFolder folder;
    const PrivateTmux tmux{*tmuxPath, "TMUX_TMPDIR=" + folder.path().string()};
    AgentProcess::Options options;
    options.environment = {tmux.environment};
    options.dataFolder = folder.path() / "data";
    std::filesystem::create_directories(*options.dataFolder);
    std::ofstream(*options.dataFolder / CommandRegistry::kFileName) << R"({"commands": [], "templates": [
        {"id": "t_sh", "name": "Plain shell", "icon": "terminal", "cwd": "/", "program": "/bin/sh"}]})";

    auto agent = std::make_unique<AgentProcess>(options);
    const auto state = pairClient(*agent);
    const auto id =
        connectClient(state)->call("session.create", JSONObject{{"templateId", "t_sh"}}).at("id").asString();
    const auto server = tmux.run({"display-message", "-p", "-t", id, "#{pid}"});
    ASSERT_TRUE(server.succeeded()) << server.standardError;

    const auto agentSockets = socketsOf(agent->pid());
    const auto tmuxSockets = socketsOf(std::stoi(server.standardOutput));
    ASSERT_FALSE(agentSockets.empty());
    ASSERT_FALSE(tmuxSockets.empty());
    std::vector<std::string> shared;
    std::ranges::set_intersection(agentSockets, tmuxSockets, std::back_inserter(shared));
    EXPECT_TRUE(shared.empty()) << "the tmux server holds " << shared.size() << " of the agent's sockets";

    options.port = agent->port();
    agent->stop();
    ASSERT_NO_THROW(agent = std::make_unique<AgentProcess>(options));
    auto sessions = connectClient(state)->call("session.list").at("sessions").asArray();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].asObject().at("id"), JSONValue(id));
}
