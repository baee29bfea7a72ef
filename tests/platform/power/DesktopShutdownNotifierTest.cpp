#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/linux/power/DesktopShutdownNotifier.h"
#include "tests/platform/power/FakeNotificationServer.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedVariable.h"

using namespace kx;
using namespace kx::testing;

namespace {

using Snapshot = ShutdownCountdown::Snapshot;

Snapshot restartAt(int remaining) {
    return {ShutdownAction::restart, "Pixel 8", remaining};
}

using NotifierOnPrivateBus = PrivateBusTest;

}  // namespace

TEST_F(NotifierOnPrivateBus, OneBubbleUpdatedInPlaceThenClosedAlsoWhenDestroyed) {
    FakeNotificationServer server(bus.address());
    std::uint32_t id = 0, second = 0;
    {
        DesktopShutdownNotifier notifier(busOpenerAt(bus.address()));
        notifier.show(restartAt(30));
        notifier.waitUntilIdle();
        notifier.show(restartAt(29));
        notifier.waitUntilIdle();
        id = notifier.shownID();
        EXPECT_NE(id, 0u);
        notifier.show(std::nullopt);
        notifier.waitUntilIdle();
        EXPECT_EQ(notifier.shownID(), 0u);
        // A new countdown gets a new bubble rather than reviving the closed one.
        notifier.show(restartAt(12));
        notifier.waitUntilIdle();
        second = notifier.shownID();
    }
    const auto notices = server.notices();
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0].replaces, 0u);
    EXPECT_EQ(notices[1].replaces, id);
    EXPECT_EQ(notices[2].replaces, 0u);
    EXPECT_EQ(notices[0].application, "Kestrix");
    EXPECT_EQ(notices[1].body, restartAt(29).message());
    EXPECT_EQ(notices[1].icon, "system-reboot");
    EXPECT_EQ(notices[1].urgency, 2);
    EXPECT_EQ(notices[1].timeout, 0);
    EXPECT_NE(second, id);
    EXPECT_EQ(server.closed(), (std::vector{id, second}));
}

TEST_F(NotifierOnPrivateBus, StuckServerNeverHoldsUpTheCaller) {
    FakeNotificationServer server(bus.address());
    DesktopShutdownNotifier notifier(busOpenerAt(bus.address()));

    server.hold();
    notifier.show(restartAt(30));
    ASSERT_TRUE(server.waitUntilStuck());
    // Both return while the server has not answered the first; only the newest is sent on.
    notifier.show(restartAt(29));
    notifier.show(restartAt(28));
    server.releaseHold();
    notifier.waitUntilIdle();

    const auto notices = server.notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].body, restartAt(30).message());
    EXPECT_EQ(notices[1].body, restartAt(28).message());
}

TEST_F(NotifierOnPrivateBus, WithoutServerOrBusItShowsNothing) {
    const auto showAndHide = [](DesktopShutdownNotifier& notifier) {
        notifier.show(restartAt(30));
        notifier.show(restartAt(29));
        notifier.waitUntilIdle();
        EXPECT_EQ(notifier.shownID(), 0u);
        notifier.show(std::nullopt);
        notifier.waitUntilIdle();
    };
    {
        DesktopShutdownNotifier noServer(busOpenerAt(bus.address()));
        showAndHide(noServer);
    }
    // The session bus the notifier looks for by default is not there.
    kx::testing::ScopedVariable missing("DBUS_SESSION_BUS_ADDRESS",
                                        "unix:path=" + (bus.folder() / "no-bus-here").string());
    DesktopShutdownNotifier noBus;
    showAndHide(noBus);
}

TEST_F(NotifierOnPrivateBus, ButtonsOfItsOwnBubbleReachTheCountdown) {
    FakeNotificationServer server(bus.address());
    std::mutex mutex;
    std::condition_variable pressed;
    std::vector<std::string> presses;
    const auto record = [&](std::string button) {
        return [&, button] {
            std::lock_guard guard(mutex);
            presses.push_back(button);
            pressed.notify_all();
        };
    };
    DesktopShutdownNotifier notifier(busOpenerAt(bus.address()), {record("cancel"), record("now")});
    notifier.show(restartAt(30));
    notifier.waitUntilIdle();
    const std::uint32_t id = notifier.shownID();
    EXPECT_EQ(server.notices().back().actions, (std::vector<std::string>{"cancel", "Cancel", "now", "Restart now"}));

    server.press(id + 1, "cancel");  // another application's bubble
    server.press(id, "default");     // a click on the bubble itself
    server.press(id, "now");
    std::unique_lock lock(mutex);
    ASSERT_TRUE(pressed.wait_for(lock, std::chrono::seconds(20), [&] { return !presses.empty(); }));
    EXPECT_EQ(presses, std::vector<std::string>{"now"});
}
