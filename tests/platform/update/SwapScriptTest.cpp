#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>

#include "agent/support/AtomicFile.h"
#include "platform/linux/update/BundleInstaller.h"
#include "platform/linux/update/SwapScript.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::testing;

namespace {

// Stands in for kestrixd: exchanges folders through the real one, answers `status` once an agent of
// its folder has started, and as the agent writes its version to DATA/up (or fails to start).
std::string standIn(const std::string& version, bool starts) {
    const char* real = std::getenv("KX_BINARY_DIR");
    return std::string("#!/bin/sh\n") + "if [ \"$1\" = --exchange-folders ]; then exec " + (real ? real : ".") +
           "/daemon/kestrixd \"$@\"; fi\n" + "if [ \"$3\" = status ]; then [ -e \"$2/up\" ]; exit $?; fi\n" +
           "echo $$ >> \"$2/agents\"\n" + (starts ? "" : "exit 1\n") + "echo " + version +
           " > \"$2/up\"\nexec sleep 5\n";
}

void makeInstallation(const std::filesystem::path& root, const std::string& version, bool starts) {
    std::filesystem::create_directories(root / "bin");
    std::ofstream(root / "bin" / "kestrixd") << standIn(version, starts);
    ::chmod((root / "bin" / "kestrixd").c_str(), 0755);
    std::ofstream(root / "marker") << version;
}

// The version complete under `root`, or "" when nothing complete is there.
std::string versionAt(const std::filesystem::path& root) {
    if (!std::filesystem::is_regular_file(root / "bin" / "kestrixd")) return "";
    return readWholeFile(root / "marker").value_or("");
}

// A swap of "old" (running) for "new" in a fresh folder, as the installer starts it.
struct Swap {
    TempFolder base{"swap"};
    std::filesystem::path installation = base / "Kestrix";
    std::filesystem::path staged = base.path() / ".Kestrix-update-1" / "Kestrix";
    std::filesystem::path data = base / "data";

    explicit Swap(bool newStarts) {
        makeInstallation(installation, "old", true);
        makeInstallation(staged, "new", newStarts);
        std::filesystem::create_directories(data);
    }

    std::vector<std::string> commandLine(pid_t agent) const {
        return SwapScript::commandLine({agent,
                                        installation,
                                        staged,
                                        BundleInstaller::backupFor(installation),
                                        data,
                                        "kestrixd",
                                        "Kestrix new did not start, so Kestrix old was put back",
                                        {"--data-dir", data.string()}});
    }

    // Stops the stand-in agents the script started; they are this process's children by then.
    ~Swap() {
        std::ifstream agents(data / "agents");
        for (pid_t pid; agents >> pid;) ::kill(pid, SIGKILL);
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    }
};

pid_t endedProcess() {
    Subprocess gone({"true"});
    gone.waitFor(std::chrono::seconds(10));
    return gone.pid();
}

}  // namespace

// Killing the script at any moment leaves a complete old or new installation under its name; run
// to its end, it keeps a new version that answers and puts the old one back for one that does not.
TEST(SwapScript, AKillAtAnyMomentLeavesOneCompleteInstallationAndTheEndIsRight) {
    // Orphaned stand-ins come to this process, which reaps them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    for (bool newStarts : {true, false}) {
        SCOPED_TRACE(newStarts ? "the new version starts" : "the new version fails");
        int kills = 0;
        for (auto delay = std::chrono::milliseconds(0);; delay += std::chrono::milliseconds(3)) {
            Swap swap(newStarts);
            Subprocess script(swap.commandLine(endedProcess()), {.quiet = true});
            if (script.waitFor(delay)) {
                EXPECT_EQ(script.exitCode(), newStarts ? 0 : 1);
                EXPECT_EQ(versionAt(swap.installation), newStarts ? "new" : "old");
                EXPECT_EQ(versionAt(BundleInstaller::backupFor(swap.installation)), newStarts ? "old" : "");
                EXPECT_FALSE(std::filesystem::exists(swap.staged.parent_path()));
                EXPECT_EQ(readWholeFile(swap.data / SwapScript::failureFileName),
                          newStarts
                              ? std::nullopt
                              : std::optional<std::string>("Kestrix new did not start, so Kestrix old was put back\n"));
                auto log = readWholeFile(swap.data / SwapScript::logFileName).value_or("");
                EXPECT_NE(log.find(newStarts ? "started " : "did not start"), std::string::npos) << log;
                break;
            }
            script.signal(SIGKILL);
            script.waitFor(std::chrono::seconds(10));
            ++kills;
            auto version = versionAt(swap.installation);
            EXPECT_TRUE(version == "old" || version == "new") << "killed after " << delay.count() << " ms";
            ASSERT_LT(kills, 400);
        }
        EXPECT_GT(kills, 5);
    }
}
