#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/IdleSockets.h"

using namespace kx;
using namespace kx::e2e;

namespace {

// The soft limit on open files from /proc/PID/limits.
std::optional<unsigned long> softFileLimit(pid_t pid) {
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    std::regex row(R"(^Max open files\s+([0-9]+)\s+([0-9]+))");
    std::smatch match;
    for (std::string line; std::getline(limits, line);)
        if (std::regex_search(line, match, row)) return std::stoul(match[1].str());
    return std::nullopt;
}

constexpr std::chrono::seconds pingWait{10};

struct Case {
    const char* name;
    std::pair<unsigned long, unsigned long> limit;
};

}  // namespace

// More idle sockets than the agent has descriptors: a paired phone still gets in and is answered.
TEST(DescriptorLimit, PairedPhoneGetsInWhileIdleSocketsOutnumberTheDescriptors) {
    constexpr std::size_t idleCount = 1000;
    const std::vector<Case> cases = {
        {"soft limit below the hard one is raised", {256, 4096}},
        // The agent uses about 15 descriptors of its own: the idle sockets would run it out.
        {"at a hard limit, waiting connections give way", {40, 40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AgentProcess::Options options;
        options.descriptorLimit = c.limit;
        AgentProcess agent(options);
        EXPECT_EQ(softFileLimit(agent.pid()), c.limit.second);
        ClientState phone = pairClient(agent);

        IdleSockets idle;
        ASSERT_EQ(idle.open(agent.port(), idleCount), idleCount);
        try {
            auto client = connectClient(phone);
            EXPECT_TRUE(client->call("agent.ping", {}, pingWait).count("t"));
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what() << "\nagent's output:\n" << agent.errorOutput();
        }
    }
}
