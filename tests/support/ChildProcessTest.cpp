#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <system_error>

#include "agent/support/ChildProcess.h"

using namespace kx;
using namespace std::chrono_literals;

namespace {
const std::string kShell = "/bin/sh";
// Generous: only a stalled reader would come near it.
constexpr auto kSafetyLimit = std::chrono::milliseconds(60s);
constexpr auto kShortLimit = std::chrono::milliseconds(200ms);
}  // namespace

TEST(ChildProcess, ChattyChildWritingMegabytesToBothPipesCompletes) {
    // Standard error first: a reader that drains standard output to its end first would stall.
    auto result = ChildProcess::run(kShell,
                                    {"-c",
                                     "head -c 3000000 /dev/zero >&2; head -c 5000000 /dev/zero; "
                                     "head -c 1000000 /dev/zero >&2; exit 3"},
                                    {.timeLimit = kSafetyLimit});
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.standardOutput.size(), 5000000u);
    EXPECT_EQ(result.standardError.size(), 4000000u);
}

TEST(ChildProcess, ArgumentsAndEnvironmentArriveExactly) {
    auto printed = ChildProcess::run("/usr/bin/printf", {"%s|", "a b", "$HOME", ";", "-x"});
    EXPECT_TRUE(printed.succeeded());
    EXPECT_EQ(printed.standardOutput, "a b|$HOME|;|-x|");

    auto env = ChildProcess::run("/usr/bin/env", {}, {.environment = std::vector<std::string>{"ONLY=this"}});
    EXPECT_EQ(env.standardOutput, "ONLY=this\n");

    auto discarded = ChildProcess::run(kShell, {"-c", "echo out; echo err >&2"}, {.discardStandardError = true});
    EXPECT_EQ(discarded.standardOutput, "out\n");
    EXPECT_EQ(discarded.standardError, "");

    // Standard input is empty rather than the agent's terminal.
    auto input = ChildProcess::run(kShell, {"-c", "read line; echo \"[$line] $?\""});
    EXPECT_EQ(input.standardOutput, "[] 1\n");
}

TEST(ChildProcess, TimeLimitKillsTheChildAndWhatItStarted) {
    auto sleeping = ChildProcess::run("/bin/sleep", {"30"}, {.timeLimit = kShortLimit});
    EXPECT_TRUE(sleeping.timedOut);
    EXPECT_FALSE(sleeping.exitCode.has_value());

    // A grandchild holding the output pipe open must not keep the run going past its limit.
    auto family = ChildProcess::run(kShell, {"-c", "sleep 30 & echo started; wait"}, {.timeLimit = kShortLimit});
    EXPECT_TRUE(family.timedOut);
    EXPECT_EQ(family.standardOutput, "started\n");

    // So must a child that closed its pipes and goes on running.
    auto silent = ChildProcess::run(kShell, {"-c", "exec >&- 2>&-; sleep 30"}, {.timeLimit = kShortLimit});
    EXPECT_TRUE(silent.timedOut);

    auto quick = ChildProcess::run(kShell, {"-c", "exit 0"}, {.timeLimit = kSafetyLimit});
    EXPECT_FALSE(quick.timedOut);
    EXPECT_TRUE(quick.succeeded());
}

TEST(ChildProcess, ReportsProgramsThatCannotStartAndSignals) {
    EXPECT_THROW(ChildProcess::run("/nonexistent/program", {}), std::system_error);
    auto killed = ChildProcess::run(kShell, {"-c", "kill -TERM $$"});
    EXPECT_FALSE(killed.exitCode.has_value());
    EXPECT_FALSE(killed.timedOut);
    EXPECT_FALSE(killed.succeeded());
}

// A descriptor opened without close-on-exec (as a library may do) stays out of the child too.
TEST(ChildProcess, ChildSeesNoDescriptorAboveStandardError) {
    const int inheritable = ::open("/dev/null", O_RDONLY);
    ASSERT_GT(inheritable, STDERR_FILENO);
    auto listed = ChildProcess::run("/bin/sh", {"-c", "ls /proc/$$/fd"});
    ::close(inheritable);
    EXPECT_EQ(listed.standardOutput, "0\n1\n2\n");
}
