#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "client/ClientState.h"
#include "tests/client/FakeAgent.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace std::chrono_literals;

extern char** environ;

namespace {

constexpr int kPatienceMilliseconds = 10'000;  // bounds a hang only

struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
};

std::string kxctlPath() {
    return KXCTL_PATH;
}  // set by the build

Child spawn(const std::vector<std::string>& arguments) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> argv{kxctlPath()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    Child child;
    int failed = ::posix_spawn(&child.pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (failed != 0) throw std::runtime_error("cannot start " + argv[0]);
    child.out = out[0];
    child.err = err[0];
    return child;
}

// Reads until end of file, or until a newline when `oneLine` is set.
std::string drain(int fd, bool oneLine = false) {
    std::string text;
    char buffer[4096];
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, kPatienceMilliseconds) <= 0) break;
        ssize_t n = ::read(fd, buffer, oneLine ? 1 : sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (oneLine && text.back() == '\n') break;
    }
    return text;
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

Result run(const std::vector<std::string>& arguments) {
    auto child = spawn(arguments);
    Result result;
    std::thread errors([&] { result.err = drain(child.err); });
    result.out = drain(child.out);
    errors.join();
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    ::close(child.out);
    ::close(child.err);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string codeText(const test::FakeAgent& agent) {
    return R"({"fp":")" + agent.fingerprint() + R"(","host":"127.0.0.1","name":"studio","port":)" +
           std::to_string(agent.port()) + R"(,"token":"token-0123456789","v":1})";
}

class KxctlTest : public ::testing::Test {
protected:
    kx::testing::TempFolder folder{"kxctl"};
    std::string state = (folder / "kxctl.json").string();
    test::FakeAgent agent;

    void pair() {
        auto paired = run({"pair", codeText(agent), "--state", state});
        ASSERT_EQ(paired.status, 0) << paired.err;
    }
};

}  // namespace

TEST_F(KxctlTest, PairsThenCallsAndPrintsResultsOrErrors) {
    pair();
    struct stat info {};
    ASSERT_EQ(::stat(state.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(ClientState::load(state).deviceId, "d_1");

    auto echoed = run({"call", "echo", R"({"text":"hi","n":2})", "--state", state});
    EXPECT_EQ(echoed.status, 0) << echoed.err;
    EXPECT_EQ(echoed.out, "{\"n\":2,\"text\":\"hi\"}\n");

    auto failed = run({"--state", state, "call", "fail"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "error target_not_found: No such thing\n");
    EXPECT_EQ(failed.out, "");

    auto pong = run({"ping", "--state", state});
    EXPECT_EQ(pong.status, 0) << pong.err;
    EXPECT_EQ(pong.out.rfind("pong from studio: ", 0), 0u) << pong.out;
}

TEST_F(KxctlTest, FailsWithOneLineErrors) {
    auto unpaired = run({"call", "echo", "--state", state});
    EXPECT_NE(unpaired.status, 0);
    EXPECT_EQ(std::count(unpaired.err.begin(), unpaired.err.end(), '\n'), 1) << unpaired.err;
    EXPECT_NE(unpaired.err.find("kxctl pair"), std::string::npos);

    pair();
    auto badParams = run({"call", "echo", "[1]", "--state", state});
    EXPECT_NE(badParams.status, 0);
    EXPECT_EQ(std::count(badParams.err.begin(), badParams.err.end(), '\n'), 1) << badParams.err;

    std::uint16_t closedPort = 0;
    {
        test::FakeAgent gone;
        closedPort = gone.port();
    }
    auto unreachable = run({"ping", "--state", state, "--port", std::to_string(closedPort)});
    EXPECT_NE(unreachable.status, 0);
    EXPECT_NE(unreachable.err.find("cannot reach the agent"), std::string::npos) << unreachable.err;
}

TEST_F(KxctlTest, WatchPrintsEachEventAsOneJSONLine) {
    pair();
    auto child = spawn({"watch", "--state", state});
    for (int waited = 0; agent.authenticatedConnections() == 0 && waited < kPatienceMilliseconds; waited += 10)
        std::this_thread::sleep_for(10ms);
    agent.push("system.state", {{"muted", true}});
    auto line = drain(child.out, true);
    ::kill(child.pid, SIGTERM);
    ::waitpid(child.pid, nullptr, 0);
    ::close(child.out);
    ::close(child.err);
    EXPECT_EQ(line, "{\"v\":1,\"t\":\"evt\",\"m\":\"system.state\",\"p\":{\"muted\":true},\"seq\":1}\n");
}
