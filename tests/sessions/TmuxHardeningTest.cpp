#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "agent/sessions/NewestLines.h"
#include "agent/sessions/SessionMethods.h"
#include "agent/sessions/UserPath.h"
#include "agent/support/AtomicFile.h"
#include "tests/sessions/SessionTestSupport.h"

using namespace kx;
using namespace kx::testing;
using namespace std::chrono_literals;

namespace {

constexpr auto kShortLimit = 100ms;
constexpr auto kPathLimit = std::chrono::milliseconds(2s);

// A tmux stand-in that hangs while the file "hang" exists and otherwise notes the locale of each
// run in "log".
constexpr const char* kStandIn = "[ -f \"$DIR/hang\" ] && exec sleep 60\necho \"$LC_ALL\" >> \"$DIR/log\"";

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

// An executable shell script in `folder` running `body`.
std::string script(const TempFolder& folder, const std::string& name, const std::string& body) {
    auto path = folder / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path.string();
}

// One grapheme of `bytes` bytes (an odd number): "e" with acute accents.
std::string accented(std::size_t bytes) {
    std::string text = "e";
    while (text.size() < bytes) text += "\u0301";
    return text;
}

}  // namespace

TEST(TmuxStandIn, HungTmuxTimesOutAndOverlongArgumentsNeverStartIt) {
    TempFolder folder{"tmux-stand-in"};
    auto tmux = script(folder, "tmux", kStandIn);
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

TEST(UserPath, TakesTheTrimmedPathTheLoginShellPrintsOrFallsBackWhenItMisbehaves) {
    TempFolder folder("shell");
    // The stand-in checks that it was asked the way a login shell is.
    auto good = script(folder, "good", R"([ "$1" = "-ilc" ] && [ "$2" = 'printf %s "$PATH"' ] || exit 1
printf '  /home/u/bin:/usr/bin\n'; echo noise >&2)");
    EXPECT_EQ(UserPath::discover(good, kPathLimit), "/home/u/bin:/usr/bin");

    // Otherwise the fallback.
    const std::pair<const char*, const char*> shells[] = {{"greeting", "echo 'Welcome!'; printf %s /x/bin"},
                                                          {"silent", "exit 0"},
                                                          {"binary", R"(printf '/x/\377bin')"},
                                                          {"slow", "sleep 30; printf %s /x/bin"},
                                                          {"plain", "printf %s /x/bin"}};
    for (const auto& [name, body] : shells) script(folder, name, body);
    ::chmod((folder / "plain").c_str(), 0644);  // not executable
    for (const std::string name : {"greeting", "silent", "binary", "slow", "plain", "absent"}) {
        auto limit = name == "slow" ? std::chrono::milliseconds(300ms) : kPathLimit;
        EXPECT_EQ(UserPath::discover((folder / name).string(), limit), UserPath::kFallback) << name;
    }
}
