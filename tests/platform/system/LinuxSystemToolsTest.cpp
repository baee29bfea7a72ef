#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include <fstream>

#include "platform/linux/system/Backlight.h"
#include "platform/linux/system/LinuxBrightness.h"
#include "platform/linux/system/LinuxPowerTools.h"
#include "tests/platform/input/PrivateXServer.h"
#include "tests/support/FakeLogind.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TempFolder.h"

// Lock, sleep, display sleep and brightness against a logind, a screen saver and an X server of the
// test's own: nothing here can reach the machine's logind or lock or suspend it.

using namespace kx;
using namespace kx::testing;
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
