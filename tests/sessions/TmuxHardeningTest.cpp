#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "agent/sessions/NewestLines.h"
#include "agent/sessions/UserPath.h"
#include "agent/support/AtomicFile.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using kx::testing::TempFolder;
using namespace std::chrono_literals;

namespace {

constexpr auto kPathLimit = std::chrono::milliseconds(2s);

// An executable shell script in `folder` running `body`.
std::string script(const TempFolder& folder, const std::string& name, const std::string& body) {
    auto path = folder / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path.string();
}

}  // namespace

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
