#include <gtest/gtest.h>

#include <limits>

#include "agent/support/ChildProcess.h"
#include "client/ClientError.h"
#include "client/WaitTime.h"
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

}  // namespace

TEST_F(KxctlTest, PairsThenCallsAndPrintsResultsOrOneLineErrors) {
    auto failsInOneLine = [&](const std::vector<std::string>& arguments, const std::string& message) {
        auto result = kxctl(arguments);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_EQ(std::count(result.standardError.begin(), result.standardError.end(), '\n'), 1);
        EXPECT_NE(result.standardError.find(message), std::string::npos) << result.standardError;
    };
    failsInOneLine({"call", "echo", "--state", state}, "kxctl pair");
    pair();
    failsInOneLine({"call", "echo", "[1]", "--state", state}, "");
    failsInOneLine({"ping", "--state", state, "--port", std::to_string(kx::testing::closedLoopbackPort())},
                   "cannot reach the agent");

    auto echoed = kxctl({"call", "echo", R"({"text":"hi","n":2})", "--state", state});
    EXPECT_EQ(echoed.exitCode, 0) << echoed.standardError;
    EXPECT_EQ(echoed.standardOutput, "{\"n\":2,\"text\":\"hi\"}\n");
    auto failed = kxctl({"--state", state, "call", "fail"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.standardError, "error target_not_found: No such thing\n");
    EXPECT_EQ(failed.standardOutput, "");
    auto pong = kxctl({"ping", "--state", state});
    EXPECT_EQ(pong.exitCode, 0) << pong.standardError;
    EXPECT_TRUE(pong.standardOutput.starts_with("pong from " + agent.service().descriptor().name + ": "))
        << pong.standardOutput;
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

TEST(WaitTime, AcceptsSecondsUpToTheLimitAndRefusesTheRest) {
    EXPECT_EQ(waitFromSeconds(0.25), std::chrono::milliseconds(250));
    EXPECT_EQ(waitFromSeconds(0.0001), std::chrono::milliseconds(1));
    EXPECT_EQ(waitFromSeconds(maxWaitSeconds), std::chrono::seconds(static_cast<int>(maxWaitSeconds)));

    constexpr double infinity = std::numeric_limits<double>::infinity();
    for (double refused :
         {1e308, infinity, -infinity, std::numeric_limits<double>::quiet_NaN(), 0.0, -1.0, maxWaitSeconds + 1}) {
        try {
            waitFromSeconds(refused);
            ADD_FAILURE() << refused << " accepted";
        } catch (const ClientError& error) {
            EXPECT_NE(std::string(error.what()).find("--timeout"), std::string::npos);
        }
    }
}
