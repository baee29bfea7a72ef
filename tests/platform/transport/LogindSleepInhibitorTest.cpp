#include <gtest/gtest.h>

#include "platform/linux/transport/LinuxSystemInfo.h"
#include "platform/linux/transport/LogindSleepInhibitor.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/FakeLogind.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

// Points the system bus at another address for one test. The inhibitor opens the system bus the
// way the agent does, which also frees its connection when that bus cannot be reached.
kx::testing::ScopedVariable systemBusAt(const std::string& address) {
    return {"DBUS_SYSTEM_BUS_ADDRESS", address};
}

using SleepInhibitorOnPrivateBus = kx::testing::PrivateBusTest;

}  // namespace

TEST_F(SleepInhibitorOnPrivateBus, HoldsLogindsLockUntilReleased) {
    kx::testing::FakeLogind logind(bus.address());
    auto systemBus = systemBusAt(bus.address());
    LogindSleepInhibitor inhibitor;

    auto inhibition = inhibitor.inhibit("Kestrix: a phone is connected");
    ASSERT_NE(inhibition, nullptr);
    EXPECT_EQ(logind.inhibitArguments(),
              (std::vector<std::string>{"idle:sleep", "Kestrix", "Kestrix: a phone is connected", "block"}));
    EXPECT_FALSE(logind.lockReleased());
    inhibition.reset();
    EXPECT_TRUE(e2e::eventually([&] { return logind.lockReleased(); }));
}

TEST_F(SleepInhibitorOnPrivateBus, NothingIsHeldWithoutLogindOrWithoutABus) {
    {
        auto systemBus = systemBusAt(bus.address());
        EXPECT_EQ(LogindSleepInhibitor().inhibit("x"), nullptr);
    }
    kx::testing::TempFolder empty;
    auto nowhere = systemBusAt("unix:path=" + (empty.path() / "none").string());
    EXPECT_EQ(LogindSleepInhibitor().inhibit("x"), nullptr);
}

TEST(LinuxSystemInfo, OperatingSystemNameFromOsRelease) {
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"
                                                 "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("# comment\nNAME='Fedora Linux'\nVERSION_ID=40\n"), "Fedora Linux 40");
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("NAME=Arch\n"), "Arch");
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("PRETTY_NAME=\"Say \\\"hi\\\"\"\n"), "Say \"hi\"");
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("garbage\n"), "Linux");
    EXPECT_EQ(LinuxSystemInfo::osNameFromRelease("PRETTY_NAME=\nNAME=Gentoo\n"), "Gentoo");
}
