#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "platform/linux/power/DryRunShutdownExecutor.h"
#include "platform/linux/power/LogindShutdownExecutor.h"
#include "tests/support/FakeLogind.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TempFolder.h"

// Nothing here may reach the machine's own logind: the logind executor only ever gets a bus
// opener for a dbus-daemon that the test started itself.

using namespace kx;
using namespace kx::testing;

using LogindOnPrivateBus = PrivateBusTest;

// What it writes is ShutdownTest's; a file that cannot be written is logged, not thrown at the countdown.
TEST(DryRunShutdownExecutor, AFileThatCannotBeWrittenIsNoFailure) {
    TempFolder folder;
    DryRunShutdownExecutor nowhere(folder.path() / "missing" / "actions");
    EXPECT_NO_THROW(nowhere.perform(ShutdownAction::shutdown));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "missing"));
}

TEST_F(LogindOnPrivateBus, AsksLogindNonInteractively) {
    FakeLogind logind(bus.address(), false);
    LogindShutdownExecutor executor(busOpenerAt(bus.address()));
    executor.perform(ShutdownAction::shutdown);
    ASSERT_TRUE(logind.waitFor(1));
    executor.perform(ShutdownAction::restart);
    ASSERT_TRUE(logind.waitFor(2));
    EXPECT_EQ(logind.calls(), (std::vector<FakeLogind::Call>{{"PowerOff", false}, {"Reboot", false}}));
}

// Refused by logind, and no logind on the bus at all.
TEST_F(LogindOnPrivateBus, RefusalOrAbsenceIsLoggedInOneLine) {
    for (bool present : {true, false}) {
        std::optional<FakeLogind> logind;
        if (present) logind.emplace(bus.address(), true);
        ::testing::internal::CaptureStderr();
        LogindShutdownExecutor::request(busOpenerAt(bus.address()), ShutdownAction::restart);
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("logind refused to restart"), std::string::npos) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
        if (!present) continue;
        EXPECT_NE(log.find("AccessDenied"), std::string::npos) << log;
        EXPECT_EQ(logind->calls().size(), 1u);
    }
}
