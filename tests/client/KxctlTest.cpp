#include <gtest/gtest.h>

#include <sys/stat.h>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/support/ChildProcess.h"
#include "client/ClientState.h"
#include "tests/client/EchoAgent.h"
#include "tests/support/ClosedPort.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace std::chrono_literals;

namespace {

// kxctl of this build, run as a person would; the limit only bounds a hang.
ChildProcess::Result kxctl(const std::vector<std::string>& arguments) {
    return ChildProcess::run(KXCTL_PATH, arguments, {.timeLimit = 30s});
}

class KxctlTest : public ::testing::Test {
protected:
    kx::testing::TempFolder folder{"kxctl"};
    std::string state = (folder / "kxctl.json").string();
    test::EchoAgent agent;

    void pair() {
        auto paired = kxctl({"pair", agent.code().encoded(), "--state", state});
        ASSERT_TRUE(paired.succeeded()) << paired.standardError;
    }
};

std::size_t lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

TEST_F(KxctlTest, PairsThenCallsAndPrintsResultsOrErrors) {
    pair();
    struct stat info {};
    ASSERT_EQ(::stat(state.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(agent.service().registry().device(ClientState::load(state).deviceId).has_value());

    auto echoed = kxctl({"call", "echo", R"({"text":"hi","n":2})", "--state", state});
    EXPECT_EQ(echoed.exitCode, 0) << echoed.standardError;
    EXPECT_EQ(echoed.standardOutput, "{\"n\":2,\"text\":\"hi\"}\n");

    auto failed = kxctl({"--state", state, "call", "fail"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.standardError, "error target_not_found: No such thing\n");
    EXPECT_EQ(failed.standardOutput, "");

    auto pong = kxctl({"ping", "--state", state});
    EXPECT_EQ(pong.exitCode, 0) << pong.standardError;
    EXPECT_EQ(pong.standardOutput.rfind("pong from " + agent.service().descriptor().name + ": ", 0), 0u)
        << pong.standardOutput;
}

TEST_F(KxctlTest, FailsWithOneLineErrors) {
    auto unpaired = kxctl({"call", "echo", "--state", state});
    EXPECT_NE(unpaired.exitCode, 0);
    EXPECT_EQ(lines(unpaired.standardError), 1u) << unpaired.standardError;
    EXPECT_NE(unpaired.standardError.find("kxctl pair"), std::string::npos);

    pair();
    auto badParams = kxctl({"call", "echo", "[1]", "--state", state});
    EXPECT_NE(badParams.exitCode, 0);
    EXPECT_EQ(lines(badParams.standardError), 1u) << badParams.standardError;

    auto unreachable = kxctl({"ping", "--state", state, "--port", std::to_string(kx::testing::closedLoopbackPort())});
    EXPECT_NE(unreachable.exitCode, 0);
    EXPECT_NE(unreachable.standardError.find("cannot reach the agent"), std::string::npos) << unreachable.standardError;
}

TEST_F(KxctlTest, WatchPrintsEachEventAsOneJSONLine) {
    pair();
    kx::testing::Subprocess watch({KXCTL_PATH, "watch", "--state", state}, {.pipeOutput = true, .pipeError = true});
    // It says so once the agent has accepted it, and only then does the agent send it events.
    ASSERT_TRUE(kx::testing::Subprocess::readLine(watch.error(), 10s).has_value());
    agent.service().transport().broadcast("system.state", {{"muted", true}});
    EXPECT_EQ(kx::testing::Subprocess::readLine(watch.output(), 10s),
              "{\"v\":1,\"t\":\"evt\",\"m\":\"system.state\",\"p\":{\"muted\":true},\"seq\":1}");
}
