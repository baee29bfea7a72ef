#include <gtest/gtest.h>

#include "agent/support/ChildProcess.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/Eventually.h"

using namespace kx;
using namespace std::chrono_literals;

// `kxctl call system.apps.list --pretty` against kestrixd on the test's X desktop: an xterm of its
// own class is listed, indented, as the application the class names.
TEST(KxctlApps, ListsTheRunningApplicationsThroughTheDaemon) {
    if (!::getenv("DISPLAY")) GTEST_SKIP() << "needs DISPLAY with an EWMH window manager (scripts/lib/services.sh)";
    kx::testing::Subprocess xterm({"xterm", "-class", "KxGamma", "-e", "sleep", "600"}, {.quiet = true});
    e2e::AgentProcess agent;
    const std::string state = (agent.dataFolder() / "kxctl.json").string();
    auto kxctl = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--state", state});
        return ChildProcess::run(KXCTL_PATH, arguments, {.timeLimit = 30s});
    };
    ASSERT_TRUE(kxctl({"pair", agent.pairingCode().encoded()}).succeeded());

    ChildProcess::Result listed;
    EXPECT_TRUE(e2e::eventually(
        [&] {
            listed = kxctl({"call", "system.apps.list", "--pretty"});
            return e2e::has(listed.standardOutput, R"("bundleId": "KxGamma")");
        },
        10s))
        << listed.standardOutput << listed.standardError;
    EXPECT_TRUE(e2e::has(listed.standardOutput, "\n  \"apps\": [\n"));
    EXPECT_TRUE(e2e::has(listed.standardOutput, R"("quittable": true)"));
}
