#include <gtest/gtest.h>

#include <fstream>

#include "agent/support/ChildProcess.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace std::chrono_literals;

// `kxctl call system.apps.list --pretty` against kestrixd on the test's X desktop: an xterm of its
// own class is listed, indented, as the installed application whose entry names that class, with
// that entry's icon.
TEST(KxctlApps, ListsTheRunningApplicationsThroughTheDaemon) {
    if (!::getenv("DISPLAY")) GTEST_SKIP() << "needs DISPLAY with an EWMH window manager (scripts/lib/services.sh)";
    kx::testing::TempFolder data("apps");
    std::filesystem::create_directories(data / "applications");
    const std::string icon = (data / "gamma.png").string();
    ASSERT_TRUE(ChildProcess::run("/usr/bin/convert", {"-size", "16x16", "xc:red", "PNG:" + icon}, {.timeLimit = 30s})
                    .succeeded());
    std::ofstream(data / "applications" / "org.example.Gamma.desktop")
        << "[Desktop Entry]\nType=Application\nName=Gamma Terminal\nExec=xterm -class KxGamma\nStartupWMClass=KxGamma\n"
        << "Icon=" << icon << "\n";
    kx::testing::Subprocess xterm({"xterm", "-class", "KxGamma", "-e", "sleep", "600"}, {.quiet = true});
    e2e::AgentProcess agent(
        {.environment = {"XDG_DATA_HOME=" + data.path().string(), "XDG_DATA_DIRS=" + data.path().string()}});
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
            return e2e::has(listed.standardOutput, R"("bundleId": "org.example.Gamma")");
        },
        10s))
        << listed.standardOutput << listed.standardError;
    EXPECT_TRUE(e2e::has(listed.standardOutput, "\n  \"apps\": [\n"));
    EXPECT_TRUE(e2e::has(listed.standardOutput, R"("name": "Gamma Terminal")"));
    EXPECT_TRUE(e2e::has(listed.standardOutput, R"("quittable": true)"));
    // The entry's icon, drawn as a PNG ("iVBORw0KGgo" is its signature in base64).
    EXPECT_TRUE(e2e::has(listed.standardOutput, R"("icon": "iVBORw0KGgo)"));
}
