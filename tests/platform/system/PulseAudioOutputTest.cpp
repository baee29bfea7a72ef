#include <gtest/gtest.h>

#include <atomic>

#include "agent/support/ChildProcess.h"
#include "platform/linux/system/PulseAudioOutput.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempFolder.h"

// A sound server of the test's own that it stops and starts again: the output must find it when it
// comes, survive it going away and watch the one that replaces it.

using namespace kx;
using namespace kx::testing;
using namespace std::chrono_literals;

namespace {

class PrivateSoundServer {
public:
    explicit PrivateSoundServer(const std::filesystem::path& folder)
        : folder_(folder), address_("unix:" + (folder / "native").string()) {}

    const std::string& address() const { return address_; }
    bool start() {
        try {
            server_ = std::make_unique<Subprocess>(
                std::vector<std::string>{
                    "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "-L",
                    "module-native-protocol-unix auth-anonymous=1 socket=" + (folder_ / "native").string(), "-L",
                    "module-null-sink sink_name=kx_private"},
                Subprocess::Options{.environment = std::vector<std::string>{"XDG_RUNTIME_DIR=" + folder_.string(),
                                                                            "HOME=" + folder_.string()},
                                    .quiet = true});
        } catch (const std::system_error&) {
            return false;
        }
        return e2e::eventually([&] { return pactl({"info"}).succeeded(); });
    }
    void stop() { server_.reset(); }
    ChildProcess::Result pactl(const std::vector<std::string>& arguments) const {
        return ChildProcess::run("/usr/bin/pactl", arguments,
                                 {.environment = std::vector<std::string>{"PULSE_SERVER=" + address_},
                                  .timeLimit = 10s,
                                  .discardStandardError = true});
    }

private:
    std::filesystem::path folder_;
    std::string address_;
    std::unique_ptr<Subprocess> server_;
};

}  // namespace

TEST(PulseAudioOutput, FindsALateServerOutlivesItsRestartAndReportsOnlyRealChanges) {
    TempFolder folder{"pulse"};
    PrivateSoundServer server(folder.path());
    PulseAudioOutput output(server.address());
    EXPECT_FALSE(output.available());
    EXPECT_FALSE(output.read().hasOutput);
    EXPECT_EQ(output.setVolume(0.5f), AudioWrite::noOutput);
    std::atomic<int> changes{0};
    output.startObserving([&] { ++changes; });

    if (!server.start()) GTEST_SKIP() << "pulseaudio cannot start here";
    ASSERT_TRUE(e2e::eventually([&] { return output.available(); }, 10s));
    // Volume and mute reading back through pactl are the end-to-end tests'; here the server's life.
    EXPECT_EQ(output.setVolume(0.3f), AudioWrite::done);
    EXPECT_NEAR(*output.read().volume, 0.3f, 0.001f);
    ASSERT_TRUE(e2e::eventually([&] { return changes >= 1; }));

    // A second sink becoming the default is a change; the same value set again is not.
    server.pactl({"load-module", "module-null-sink", "sink_name=kx_other"});
    server.pactl({"set-sink-volume", "kx_other", "20%"});
    int seen = changes;
    server.pactl({"set-default-sink", "kx_other"});
    ASSERT_TRUE(e2e::eventually([&] { return changes > seen; }));
    EXPECT_NEAR(*output.read().volume, 0.2f, 0.001f);
    seen = changes;
    server.pactl({"set-sink-volume", "kx_other", "20%"});
    server.pactl({"set-sink-mute", "kx_other", "1"});
    ASSERT_TRUE(e2e::eventually([&] { return changes > seen; }));
    EXPECT_EQ(changes, seen + 1);
    EXPECT_EQ(output.read().muted, true);

    server.stop();
    EXPECT_TRUE(e2e::eventually([&] { return !output.read().hasOutput; }));
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(e2e::eventually([&] { return output.available(); }, 10s));
    seen = changes;
    server.pactl({"set-sink-volume", "@DEFAULT_SINK@", "70%"});
    EXPECT_TRUE(e2e::eventually([&] { return changes > seen; }));
    output.stopObserving();
}
