#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/sessions/NewestLines.h"
#include "agent/sessions/SessionMethods.h"
#include "agent/support/AtomicFile.h"
#include "agent/support/ChildProcess.h"
#include "protocol/SecureChannel.h"
#include "tests/sessions/SessionTestSupport.h"

using namespace kx;
using namespace kx::testing;
using namespace std::chrono_literals;

namespace {

constexpr auto kShortLimit = 100ms;
constexpr auto kFillWait = 10s;
constexpr auto kPoll = 50ms;

// A tmux stand-in that hangs while the file "hang" exists and otherwise notes the locale of each
// run in "log".
constexpr const char* kStandIn = "#!/bin/sh\n[ -f \"$DIR/hang\" ] && exec sleep 60\necho \"$LC_ALL\" >> \"$DIR/log\"\n";

struct Sessions {
    Sessions(const std::string& tmux, std::map<std::string, std::string> environment, std::chrono::milliseconds limit) {
        registry->upsert(SavedCommand{"c_long", "Long", "", std::string(TmuxRunner::maxArgumentBytes, 'x'), "", false});
        registry->upsert(
            SavedCommand{"c_max", "Max", "", std::string(TmuxRunner::maxArgumentBytes - 1, 'x'), "", false});
        auto controller = std::make_shared<SessionController>(
            registry, [tmux] { return std::optional(tmux); }, std::move(environment), limit);
        registerSessionMethods(router, controller, registry);
    }
    std::string shell() const { return registry->templates()[1].id; }

    std::shared_ptr<CommandRegistry> registry = std::make_shared<CommandRegistry>(std::nullopt, true);
    CommandRouter router;
};

// One grapheme of `bytes` bytes (an odd number): "e" with acute accents.
std::string accented(std::size_t bytes) {
    std::string text = "e";
    while (text.size() < bytes) text += "\u0301";
    return text;
}

}  // namespace

TEST(TmuxStandIn, HungTmuxTimesOutAndOverlongArgumentsNeverStartIt) {
    TempFolder folder{"tmux-stand-in"};
    auto tmux = (folder / "tmux").string();
    std::ofstream(tmux) << kStandIn;
    ::chmod(tmux.c_str(), 0755);
    Sessions quick(tmux, {{"DIR", folder.path().string()}}, kShortLimit);
    const WireError late{ErrorCode::timeout, "The terminal did not respond"};

    std::ofstream(folder / "hang").flush();
    EXPECT_EQ(fail(quick.router, "session.list"), late);
    EXPECT_EQ(fail(quick.router, "session.create", {{"templateId", quick.shell()}}), late);
    EXPECT_EQ(fail(quick.router, "session.capture", {{"id", "kx-a"}}), late);
    std::filesystem::remove(folder / "hang");

    // Longer than the kernel passes as one argument: refused before tmux starts. One byte less runs.
    Sessions sessions(tmux, {{"DIR", folder.path().string()}, {"LC_ALL", "C"}}, TmuxRunner::defaultTimeLimit);
    const WireError tooLong{ErrorCode::invalidParams, "Text is too long"};
    EXPECT_EQ(fail(sessions.router, "session.text",
                   {{"id", "kx-a"}, {"text", "e" + accented(TmuxRunner::maxArgumentBytes - 1)}}),
              tooLong);
    EXPECT_EQ(fail(sessions.router, "session.run", {{"id", "kx-a"}, {"commandId", "c_long"}}), tooLong);
    EXPECT_FALSE(std::filesystem::exists(folder / "log"));
    succeed(sessions.router, "session.text", {{"id", "kx-a"}, {"text", accented(TmuxRunner::maxArgumentBytes - 1)}});
    succeed(sessions.router, "session.run", {{"id", "kx-a"}, {"commandId", "c_max"}});
    // Text, command and Enter, each with a UTF-8 locale for the shells tmux starts.
    EXPECT_EQ(readWholeFile((folder / "log").string()), "C.UTF-8\nC.UTF-8\nC.UTF-8\n");
}

TEST(NewestLines, DroppedLinesLeaveTheStyleInForceAtTheCut) {
    const std::string kept = "kept\n";
    const std::size_t room = maxCarriedStyleJSONBytes + 6;  // a style, then "kept\n" as JSON
    const std::vector<std::pair<std::string, std::string>> cases{
        {"plain\n", ""},
        {"\x1b[1m\x1b[31mA\x1b[44mB\x1b[4mC\n", "\x1b[1m\x1b[4m\x1b[31m\x1b[44m"},
        {"\x1b[1m\x1b[31m\x1b[58;5;3mA\x1b[0mB\n", "\x1b[0m"},
        {"\x1b[1m\x1b[0m\x1b[38;5;9mA\n\x1b[39mB\x1b[3mC\n", "\x1b[0m\x1b[3m\x1b[39m"}};
    const std::string filler(room, 'x');  // so that not everything fits
    for (const auto& [dropped, style] : cases)
        EXPECT_EQ(newestLines(filler + "\n" + dropped + kept, room), style + kept) << dropped;
    EXPECT_EQ(newestLines(kept, 6), kept);  // nothing dropped, nothing added
}

// Real tmux on a private server, the agent running in the C locale.
class TmuxHardening : public ::testing::Test {
protected:
    void SetUp() override {
        tmux_ = SystemPermissionProbe().tmuxPath();
        if (!tmux_) GTEST_SKIP() << "tmux is not installed";
        sessions_.emplace(*tmux_, environment_, TmuxRunner::defaultTimeLimit);
    }
    void TearDown() override {
        if (tmux_) tmux({"kill-server"});
    }
    // tmux itself, in UTF-8 mode, on the test's server.
    std::string tmux(std::vector<std::string> arguments) {
        std::vector<std::string> env{"PATH=/usr/bin:/bin"};
        for (const auto& [name, value] : environment_) env.push_back(name + "=" + value);
        arguments.insert(arguments.begin(), "-u");
        return ChildProcess::run(*tmux_, arguments, {.environment = env}).standardOutput;
    }

    TempFolder folder_{"tmux"};
    std::map<std::string, std::string> environment_{{"TMUX_TMPDIR", folder_.path().string()},
                                                    {"HOME", folder_.path().string()},
                                                    {"SHELL", "/bin/sh"},
                                                    {"ENV", ""},
                                                    {"LC_ALL", "C"}};
    std::optional<std::string> tmux_;
    std::optional<Sessions> sessions_;
};

TEST_F(TmuxHardening, EverySessionNameTmuxAcceptsCanBeReachedAgain) {
    const std::vector<std::pair<std::string, std::string>> names{
        {"a\U00031350b", "kx-a-b"},      {"Ωmega", "kx-ωmega"},    {"中文", "kx-中文"}, {"cafe\u0301", "kx-cafe"},
        {"smile😀face", "kx-smile-face"}, {"ctl\x01x", "kx-ctl-x"}, {"v1.2", "kx-v1-2"}, {"host:port", "kx-host-port"}};
    auto& router = sessions_->router;
    std::set<std::string> created, listed;
    for (const auto& [name, id] : names) {
        EXPECT_EQ(succeed(router, "session.create", {{"templateId", sessions_->shell()}, {"name", name}}).at("id"),
                  JSONValue(id));
        created.insert(id);
    }
    auto list = succeed(router, "session.list");
    for (const auto& session : list.at("sessions").asArray()) listed.insert(session.asObject().at("id").asString());
    EXPECT_EQ(listed, created);
    for (const auto& [name, id] : names) {
        succeed(router, "session.capture", {{"id", id}});
        succeed(router, "session.kill", {{"id", id}});
    }
    EXPECT_EQ(tmux({"list-sessions"}), "");
}

TEST_F(TmuxHardening, CaptureKeepsTheNewestWholeLinesThatFitOneFrame) {
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
    auto deadline = std::chrono::steady_clock::now() + kFillWait;
    while (tmux({"capture-pane", "-p", "-t", "=kx-wide:"}).find("end-of-fill") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPoll);

    auto answer = call(sessions_->router, "session.capture", {{"id", "kx-wide"}, {"lines", 2000}});
    auto whole = tmux({"capture-pane", "-p", "-e", "-t", "=kx-wide:", "-S", "-2000"});
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
