#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

#include "agent/support/ChildProcess.h"
#include "platform/linux/system/Backlight.h"
#include "platform/linux/system/LinuxBrightness.h"
#include "platform/linux/system/LinuxPowerTools.h"
#include "platform/linux/system/MprisPlayers.h"
#include "platform/linux/system/PulseAudioOutput.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/platform/input/PrivateXServer.h"
#include "tests/support/FakeLogind.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempFolder.h"

// The system ports against services of the test's own. Lock, sleep, display sleep and brightness
// go to a logind, a screen saver and an X server that cannot lock or suspend the machine; audio
// goes to a sound server that the test stops and starts again; players come and go on a session bus.

using namespace kx;
using namespace kx::testing;
using namespace std::chrono_literals;
using Action = PowerTools::Action;
using Call = FakeLogind::Call;

namespace {

void writeBacklight(const std::filesystem::path& root, const std::string& name, const std::string& type,
                    std::uint32_t brightness, std::uint32_t maximum) {
    std::filesystem::create_directories(root / name);
    std::ofstream(root / name / "type") << type << "\n";
    std::ofstream(root / name / "brightness") << brightness << "\n";
    std::ofstream(root / name / "max_brightness") << maximum << "\n";
}

// org.freedesktop.ScreenSaver on a private session bus, counting Lock calls.
struct FakeScreenSaver {
    explicit FakeScreenSaver(const std::string& address) : bus(sdbus::createSessionBusConnectionWithAddress(address)) {
        bus->requestName("org.freedesktop.ScreenSaver");
        object = sdbus::createObject(*bus, "/org/freedesktop/ScreenSaver");
        object->registerMethod("Lock").onInterface("org.freedesktop.ScreenSaver").implementedAs([this] { ++locks; });
        object->finishRegistration();
        bus->enterEventLoopAsync();
    }
    ~FakeScreenSaver() { bus->leaveEventLoop(); }
    std::unique_ptr<sdbus::IConnection> bus;
    std::unique_ptr<sdbus::IObject> object;
    std::atomic<int> locks{0};
};

// A PulseAudio server on a socket in the test's folder, with one null sink.
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

TEST(Backlight, TheBestIsFirmwareThenPlatformThenRawAndStepsStayInRange) {
    TempFolder sys;
    EXPECT_FALSE(Backlight::best(sys.path()).has_value());
    EXPECT_FALSE(Backlight::best(sys.path() / "missing").has_value());
    writeBacklight(sys.path(), "zero_range", "firmware", 0, 0);
    writeBacklight(sys.path(), "raw_panel", "raw", 10, 100);
    EXPECT_EQ(Backlight::best(sys.path())->name, "raw_panel");
    writeBacklight(sys.path(), "platform_b", "platform", 10, 100);
    writeBacklight(sys.path(), "platform_a", "platform", 10, 100);
    EXPECT_EQ(Backlight::best(sys.path())->name, "platform_a");
    writeBacklight(sys.path(), "acpi_video0", "firmware", 500, 1000);
    EXPECT_EQ(Backlight::best(sys.path())->name, "acpi_video0");

    struct Case {
        std::uint32_t brightness, maximum;
        bool up;
        std::uint32_t expected;
    };
    for (auto [brightness, maximum, up, expected] : std::vector<Case>{{500, 1000, true, 563},
                                                                      {990, 1000, true, 1000},
                                                                      {500, 1000, false, 437},
                                                                      {40, 1000, false, 1},
                                                                      {0, 1000, false, 0},
                                                                      {3, 7, true, 4},
                                                                      {2, 7, false, 1}})
        EXPECT_EQ((Backlight{"b", brightness, maximum}.stepped(up)), expected) << brightness << "/" << maximum;
}

TEST(LinuxPowerTools, LockSleepAndBrightnessGoToLogindForThisProcesssSession) {
    PrivateBus system, session;
    if (!system.running() || !session.running()) GTEST_SKIP() << "dbus-daemon is not available";
    FakeLogind logind(system.address());
    TempFolder sys;
    writeBacklight(sys.path(), "acpi_video0", "firmware", 500, 1000);

    LinuxPowerTools power(busOpenerAt(system.address()), busOpenerAt(session.address()));
    EXPECT_TRUE(power.available(Action::lock));
    EXPECT_TRUE(power.available(Action::sleep));
    EXPECT_EQ(power.perform(Action::lock), PowerResult::done);
    EXPECT_EQ(power.perform(Action::sleep), PowerResult::done);
    LinuxBrightness brightness(busOpenerAt(session.address()), busOpenerAt(system.address()), sys.path());
    EXPECT_TRUE(brightness.available());
    EXPECT_TRUE(brightness.step(false));
    EXPECT_EQ(logind.calls(),
              (std::vector<Call>{
                  {"Lock", false}, {"Suspend", false}, {"SetBrightness", false, "backlight acpi_video0 437"}}));

    // Without a backlight there is nothing to change.
    LinuxBrightness none(busOpenerAt(session.address()), busOpenerAt(system.address()), sys.path() / "none");
    EXPECT_FALSE(none.available());
    EXPECT_FALSE(none.step(true));
}

TEST(LinuxPowerTools, WithoutLogindTheScreenSaverLocksAndSleepIsUnavailable) {
    PrivateBus system, session;
    if (!system.running() || !session.running()) GTEST_SKIP() << "dbus-daemon is not available";
    LinuxPowerTools power(busOpenerAt(system.address()), busOpenerAt(session.address()));
    EXPECT_EQ(power.perform(Action::lock), PowerResult::unavailable);
    EXPECT_EQ(power.perform(Action::sleep), PowerResult::unavailable);
    FakeScreenSaver saver(session.address());
    EXPECT_EQ(power.perform(Action::lock), PowerResult::done);
    EXPECT_EQ(saver.locks, 1);
}

TEST(LinuxPowerTools, DisplaySleepStartsTheScreenSaverWhereTheServerHasNoPowerManagement) {
    test::PrivateXServer x;
    if (!x.number()) GTEST_SKIP() << "Xvfb is not available";
    ScopedVariable display("DISPLAY", x.name());
    LinuxPowerTools power(busOpenerAt("unix:path=/nonexistent"), busOpenerAt("unix:path=/nonexistent"));
    EXPECT_TRUE(power.available(Action::displaySleep));
    EXPECT_EQ(power.perform(Action::displaySleep), PowerResult::done);

    Display* connection = XOpenDisplay(x.name().c_str());
    ASSERT_NE(connection, nullptr);
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    ASSERT_TRUE(XScreenSaverQueryInfo(connection, DefaultRootWindow(connection), info));
    EXPECT_EQ(info->state, ScreenSaverOn);
    XFree(info);
    XCloseDisplay(connection);
    x.stop();
    EXPECT_EQ(power.perform(Action::displaySleep), PowerResult::unavailable);
}

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

using MprisOnPrivateBus = PrivateBusTest;

TEST_F(MprisOnPrivateBus, PlayersAreTrackedAsTheyComeAndGo) {
    auto players = std::make_shared<MprisPlayers>(busOpenerAt(bus.address()));
    EXPECT_TRUE(players->available());
    EXPECT_TRUE(players->players().empty());

    const char* tone = std::getenv("KX_TONE");
    if (!tone) GTEST_SKIP() << "no tagged tone: scripts/lib/services.sh makes one";
    auto mpv = std::make_unique<Subprocess>(
        std::vector<std::string>{"mpv", "--no-config", "--script=/usr/lib/mpv-mpris/mpris.so", "--ao=null", "--vo=null",
                                 "--no-terminal", "--pause", tone},
        Subprocess::Options{.environment = std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + bus.address()},
                            .quiet = true});
    // mpv names itself on the bus before it has loaded the file and paused: wait for both.
    ASSERT_TRUE(e2e::eventually(
        [&] {
            auto listed = players->players();
            return listed.size() == 1 && listed[0].status == PlaybackStatus::paused;
        },
        10s));
    EXPECT_EQ(players->players()[0].name, "mpv");
    mpv.reset();
    EXPECT_TRUE(e2e::eventually([&] { return players->players().empty(); }));
}
