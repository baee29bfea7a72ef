#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/sessions/SessionMethods.h"
#include "agent/support/ChildProcess.h"
#include "tests/sessions/SessionTestSupport.h"

using namespace kx;
using namespace kx::testing;
using namespace std::chrono_literals;

namespace {

constexpr auto kScreenWait = 10s;
constexpr auto kScreenPoll = 50ms;

// The session methods on the real tmux, with a tmux server of the test's own (TMUX_TMPDIR) so
// that no user's server is ever touched; the server is killed afterwards.
class SessionsOnRealTmux : public ::testing::Test {
protected:
    void SetUp() override {
        tmux_ = SystemPermissionProbe().tmuxPath();
        if (!tmux_) GTEST_SKIP() << "tmux is not installed";
        environment_ = {{"TMUX_TMPDIR", folder_.path().string()},
                        {"HOME", folder_.path().string()},
                        {"SHELL", "/bin/sh"},
                        {"ENV", ""}};
        auto path = *tmux_;
        controller_ = std::make_shared<SessionController>(
            registry_, [path] { return std::optional(path); }, environment_);
        registry_->upsert(SavedCommand{"c_hi", "Hi", "", "echo ran-$((40+2))", shellTemplate(), false});
        registry_->upsert(SavedCommand{"c_dash", "Dash", "", "-kx-dashed", shellTemplate(), false});
        registry_->upsert(SavedCommand{"c_rm", "Wipe", "", "echo wiped-$((1+1))", shellTemplate(), true});
        registerSessionMethods(router_, controller_, registry_);
    }

    void TearDown() override {
        if (tmux_) tmux({"kill-server"});
    }

    // tmux itself, on the test's server, for what the phone must not do (the user's sessions).
    ChildProcess::Result tmux(std::vector<std::string> arguments) {
        std::vector<std::string> env{"PATH=/usr/bin:/bin"};
        for (const auto& [name, value] : environment_) env.push_back(name + "=" + value);
        return ChildProcess::run(*tmux_, arguments, {.environment = env});
    }

    std::string shellTemplate() const { return registry_->templates()[1].id; }

    std::string create() {
        return succeed(router_, "session.create", {{"templateId", shellTemplate()}}).at("id").asString();
    }

    // Waits until the captured screen contains `needle`; returns the last capture.
    std::string waitForScreen(const std::string& id, const std::string& needle) {
        auto deadline = std::chrono::steady_clock::now() + kScreenWait;
        std::string screen;
        do {
            screen = succeed(router_, "session.capture", {{"id", id}}).at("text").asString();
            if (screen.find(needle) != std::string::npos) return screen;
            std::this_thread::sleep_for(kScreenPoll);
        } while (std::chrono::steady_clock::now() < deadline);
        ADD_FAILURE() << "never saw " << needle << " in:\n" << screen;
        return screen;
    }

    JSONArray sessions() { return succeed(router_, "session.list").at("sessions").asArray(); }

    TempFolder folder_{"tmux"};
    std::optional<std::string> tmux_;
    std::map<std::string, std::string> environment_;
    std::shared_ptr<CommandRegistry> registry_ = std::make_shared<CommandRegistry>(std::nullopt, true);
    std::shared_ptr<SessionController> controller_;
    CommandRouter router_;
};

}  // namespace

TEST_F(SessionsOnRealTmux, CreateTypeRunAndCapture) {
    ASSERT_TRUE(tmux({"new-session", "-d", "-s", "work"}).succeeded());
    EXPECT_EQ(create(), "kx-shell");
    EXPECT_EQ(create(), "kx-shell-2");
    auto listed = sessions();
    ASSERT_EQ(listed.size(), 2u);  // the user's own session stays invisible
    EXPECT_EQ(listed[0].asObject().at("id"), JSONValue("kx-shell"));
    EXPECT_EQ(listed[1].asObject().at("name"), JSONValue("shell-2"));

    succeed(router_, "session.text", {{"id", "kx-shell"}, {"text", "echo typed-$((6*7))"}});
    succeed(router_, "session.key", {{"id", "kx-shell"}, {"key", "enter"}});
    waitForScreen("kx-shell", "typed-42");

    succeed(router_, "session.run", {{"id", "kx-shell"}, {"commandId", "c_hi"}});
    waitForScreen("kx-shell", "ran-42");
    // A saved command beginning with "-" is typed, not taken as options.
    succeed(router_, "session.run", {{"id", "kx-shell"}, {"commandId", "c_dash"}});
    waitForScreen("kx-shell", "-kx-dashed");

    // A dangerous command is refused and nothing is typed: a later marker shows up alone.
    EXPECT_EQ(fail(router_, "session.run", {{"id", "kx-shell-2"}, {"commandId", "c_rm"}}).code,
              ErrorCode::needsConfirmation);
    succeed(router_, "session.text", {{"id", "kx-shell-2"}, {"text", "echo marker-$((2+3))"}});
    succeed(router_, "session.key", {{"id", "kx-shell-2"}, {"key", "enter"}});
    auto screen = waitForScreen("kx-shell-2", "marker-5");
    EXPECT_EQ(screen.find("wiped"), std::string::npos);
}

TEST_F(SessionsOnRealTmux, ResizeClampsAndKillTouchesOnlyTheNamedSession) {
    ASSERT_TRUE(tmux({"new-session", "-d", "-s", "work"}).succeeded());
    EXPECT_EQ(create(), "kx-shell");
    EXPECT_EQ(create(), "kx-shell-2");

    succeed(router_, "session.resize", {{"id", "kx-shell-2"}, {"cols", 10}, {"rows", 300}});
    auto resized = sessions()[1].asObject();
    EXPECT_EQ(resized.at("cols"), JSONValue(20));
    EXPECT_EQ(resized.at("rows"), JSONValue(200));
    EXPECT_GT(resized.at("created").asNumber(), 0);

    succeed(router_, "session.kill", {{"id", "kx-shell"}});
    auto left = sessions();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].asObject().at("id"), JSONValue("kx-shell-2"));
    // Gone means gone: the name does not reach kx-shell-2 by prefix.
    EXPECT_EQ(fail(router_, "session.kill", {{"id", "kx-shell"}}).msg, "tmux command failed");
    EXPECT_EQ(fail(router_, "session.kill", {{"id", "work"}}).msg, "No such session");
    EXPECT_EQ(sessions().size(), 1u);
    EXPECT_TRUE(tmux({"has-session", "-t", "=work"}).succeeded());
}
