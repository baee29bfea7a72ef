#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>

#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/sessions/SessionMethods.h"
#include "agent/support/ChildProcess.h"
#include "protocol/SecureChannel.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/sessions/SessionTestSupport.h"

using namespace kx;
using namespace kx::testing;
using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 10s;

// The session methods on the real tmux, the agent in the C locale, with a tmux server of the
// test's own (TMUX_TMPDIR) so that no user's server is ever touched; the server is killed afterwards.
class SessionsOnRealTmux : public ::testing::Test {
protected:
    void SetUp() override {
        tmux_ = SystemPermissionProbe().tmuxPath();
        if (!tmux_) GTEST_SKIP() << "tmux is not installed";
        rig_.emplace(tmux_, environment_);
        rig_->registry->upsert(SavedCommand{"c_hi", "Hi", "", "echo ran-$((40+2))", shell(), false});
        rig_->registry->upsert(SavedCommand{"c_dash", "Dash", "", "-kx-dashed", shell(), false});
    }
    void TearDown() override {
        if (tmux_) tmux({"kill-server"});
    }

    // tmux itself, in UTF-8 mode on the test's server.
    ChildProcess::Result tmux(std::vector<std::string> arguments) {
        std::vector<std::string> env{"PATH=/usr/bin:/bin"};
        for (const auto& [name, value] : environment_) env.push_back(name + "=" + value);
        arguments.insert(arguments.begin(), "-u");
        return ChildProcess::run(*tmux_, arguments, {.environment = env});
    }
    std::string shell() const { return rig_->templateID("Shell"); }
    std::string create() {
        return succeed(rig_->router, "session.create", {{"templateId", shell()}}).at("id").asString();
    }
    JSONArray sessions() { return succeed(rig_->router, "session.list").at("sessions").asArray(); }

    // Waits until the captured screen contains `needle`; returns the last capture.
    std::string waitForScreen(const std::string& id, const std::string& needle) {
        std::string screen;
        if (!e2e::eventually(
                [&] {
                    screen = succeed(rig_->router, "session.capture", {{"id", id}}).at("text").asString();
                    return screen.find(needle) != std::string::npos;
                },
                kWait))
            ADD_FAILURE() << "never saw " << needle << " in:\n" << screen;
        return screen;
    }

    TempFolder folder_{"tmux"};
    std::map<std::string, std::string> environment_{{"TMUX_TMPDIR", folder_.path().string()},
                                                    {"HOME", folder_.path().string()},
                                                    {"SHELL", "/bin/sh"},
                                                    {"ENV", ""},
                                                    {"LC_ALL", "C"}};
    std::optional<std::string> tmux_;
    std::optional<SessionRig> rig_;
};

}  // namespace

// A dangerous saved command, which never reaches tmux, is SessionMethodsTest's.
TEST_F(SessionsOnRealTmux, CreateTypeRunCaptureResizeAndKill) {
    EXPECT_TRUE(sessions().empty());  // no server yet: no sessions, no error
    ASSERT_TRUE(tmux({"new-session", "-d", "-s", "work"}).succeeded());
    EXPECT_EQ(create(), "kx-shell");
    EXPECT_EQ(create(), "kx-shell-2");
    auto listed = sessions();
    ASSERT_EQ(listed.size(), 2u);  // the user's own session stays invisible
    EXPECT_EQ(listed[0].asObject().at("id"), JSONValue("kx-shell"));
    EXPECT_EQ(listed[1].asObject().at("name"), JSONValue("shell-2"));
    EXPECT_EQ(listed[1].asObject().at("alive"), JSONValue(true));

    succeed(rig_->router, "session.text", {{"id", "kx-shell"}, {"text", "echo typed-$((6*7))"}});
    succeed(rig_->router, "session.key", {{"id", "kx-shell"}, {"key", "enter"}});
    waitForScreen("kx-shell", "typed-42");
    succeed(rig_->router, "session.run", {{"id", "kx-shell"}, {"commandId", "c_hi"}});
    waitForScreen("kx-shell", "ran-42");
    // A saved command beginning with "-" is typed, not taken as options.
    succeed(rig_->router, "session.run", {{"id", "kx-shell"}, {"commandId", "c_dash"}});
    waitForScreen("kx-shell", "-kx-dashed");

    // Resize clamps; kill touches only the named session.
    succeed(rig_->router, "session.resize", {{"id", "kx-shell-2"}, {"cols", 10}, {"rows", 300}});
    auto resized = sessions()[1].asObject();
    EXPECT_EQ(resized.at("cols"), JSONValue(20));
    EXPECT_EQ(resized.at("rows"), JSONValue(200));

    succeed(rig_->router, "session.kill", {{"id", "kx-shell"}});
    auto left = sessions();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].asObject().at("id"), JSONValue("kx-shell-2"));
    // Gone means gone: the name does not reach kx-shell-2 by prefix.
    EXPECT_EQ(fail(rig_->router, "session.kill", {{"id", "kx-shell"}}),
              (WireError{ErrorCode::targetNotFound, "tmux command failed"}));
    EXPECT_EQ(sessions().size(), 1u);
    EXPECT_TRUE(tmux({"has-session", "-t", "=work"}).succeeded());
}

TEST_F(SessionsOnRealTmux, EverySessionNameTmuxAcceptsCanBeReachedAgain) {
    const std::vector<std::pair<std::string, std::string>> names{
        {"a\U00031350b", "kx-a-b"},      {"Ωmega", "kx-ωmega"},    {"中文", "kx-中文"}, {"cafe\u0301", "kx-cafe"},
        {"smile😀face", "kx-smile-face"}, {"ctl\x01x", "kx-ctl-x"}, {"v1.2", "kx-v1-2"}, {"host:port", "kx-host-port"}};
    std::set<std::string> created, listed;
    for (const auto& [name, id] : names) {
        EXPECT_EQ(succeed(rig_->router, "session.create", {{"templateId", shell()}, {"name", name}}).at("id"),
                  JSONValue(id));
        created.insert(id);
    }
    for (const auto& session : sessions()) listed.insert(session.asObject().at("id").asString());
    EXPECT_EQ(listed, created);
    for (const auto& [name, id] : names) {
        succeed(rig_->router, "session.capture", {{"id", id}});
        succeed(rig_->router, "session.kill", {{"id", id}});
    }
    EXPECT_EQ(tmux({"list-sessions"}).standardOutput, "");
}

TEST_F(SessionsOnRealTmux, CaptureKeepsTheNewestWholeLinesThatFitOneFrame) {
    std::ofstream fill(folder_ / "fill");
    for (int line = 1; line <= 2100; ++line) {
        fill << line;
        for (int colour = 0; colour < 49; ++colour) fill << "\x1b[3" << colour % 8 << "mcolumns-é";
        fill << "\n";
    }
    fill << "\x1b[0mend-of-fill\n";
    fill.close();
    auto program = "cat '" + (folder_ / "fill").string() + "'; exec sleep 600";
    tmux({"new-session", "-d", "-s", "kx-wide", "-x", "500", "-y", "50", program});
    e2e::eventually(
        [&] {
            return tmux({"capture-pane", "-p", "-t", "=kx-wide:"}).standardOutput.find("end-of-fill") !=
                   std::string::npos;
        },
        kWait);

    auto answer = call(rig_->router, "session.capture", {{"id", "kx-wide"}, {"lines", 2000}});
    auto whole = tmux({"capture-pane", "-p", "-e", "-t", "=kx-wide:", "-S", "-2000"}).standardOutput;
    ASSERT_TRUE(answer.ok && *answer.ok);
    auto text = answer.p->at("text").asString();
    EXPECT_GT(whole.size(), SecureChannel::maxPayload);
    EXPECT_LE(answer.encode().size(), SecureChannel::maxPayload);
    EXPECT_GT(answer.encode().size(), SecureChannel::maxPayload * 9 / 10);
    // Every line ends in colour 0, which tmux does not repeat where the next line begins.
    const std::string carried = "\x1b[30m";
    ASSERT_TRUE(text.starts_with(carried)) << text.substr(0, carried.size() * 2);
    auto lines = text.substr(carried.size());
    ASSERT_GT(whole.size(), lines.size());
    EXPECT_TRUE(whole.ends_with(lines));                      // the newest lines ...
    EXPECT_EQ(whole[whole.size() - lines.size() - 1], '\n');  // ... from the start of one
}
