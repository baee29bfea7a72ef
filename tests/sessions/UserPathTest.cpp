#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "agent/sessions/UserPath.h"
#include "tests/sessions/SessionTestSupport.h"

using namespace kx;
using namespace std::chrono_literals;

namespace {

constexpr auto kLimit = std::chrono::milliseconds(2s);

// A stand-in login shell running `body`.
std::string shell(const kx::testing::TempFolder& folder, const std::string& name, const std::string& body) {
    auto path = folder / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path.string();
}

}  // namespace

TEST(UserPath, TakesTheTrimmedPathTheLoginShellPrints) {
    kx::testing::TempFolder folder("shell");
    // The stand-in checks that it was asked the way a login shell is.
    auto good = shell(folder, "good", R"([ "$1" = "-ilc" ] && [ "$2" = 'printf %s "$PATH"' ] || exit 1
printf '  /home/u/bin:/usr/bin\n'; echo noise >&2)");
    EXPECT_EQ(UserPath::discover(good, kLimit), "/home/u/bin:/usr/bin");
}

TEST(UserPath, FallsBackWhenTheShellMisbehaves) {
    kx::testing::TempFolder folder("shell");
    const std::pair<const char*, const char*> shells[] = {{"greeting", "echo 'Welcome!'; printf %s /x/bin"},
                                                          {"silent", "exit 0"},
                                                          {"binary", R"(printf '/x/\377bin')"},
                                                          {"slow", "sleep 30; printf %s /x/bin"},
                                                          {"plain", "printf %s /x/bin"}};
    for (const auto& [name, body] : shells) shell(folder, name, body);
    ::chmod((folder / "plain").c_str(), 0644);  // not executable
    for (const std::string name : {"greeting", "silent", "binary", "slow", "plain", "absent"}) {
        auto limit = name == "slow" ? std::chrono::milliseconds(300ms) : kLimit;
        EXPECT_EQ(UserPath::discover((folder / name).string(), limit), UserPath::kFallback) << name;
    }
}
