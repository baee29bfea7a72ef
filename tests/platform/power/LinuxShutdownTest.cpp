#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "platform/linux/power/DesktopShutdownNotifier.h"
#include "platform/linux/power/DryRunShutdownExecutor.h"
#include "platform/linux/power/LogindShutdownExecutor.h"
#include "tests/support/FakeLogind.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/Recorder.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::testing;

namespace {

// org.freedesktop.Notifications on a private bus, recording what it is asked to show. While held,
// Notify does not answer: the bubble server is stuck.
class FakeNotificationServer {
public:
    struct Notice {
        std::string application;
        std::uint32_t replaces = 0;
        std::string icon, body;
        std::vector<std::string> actions;
        std::uint8_t urgency = 0;
        std::int32_t timeout = -1;
    };

    explicit FakeNotificationServer(const std::string& address)
        : bus_(sdbus::createSessionBusConnectionWithAddress(address)) {
        bus_->requestName(kInterface);
        object_ = sdbus::createObject(*bus_, "/org/freedesktop/Notifications");
        object_->registerMethod("Notify")
            .onInterface(kInterface)
            .implementedAs([this](const std::string& application, std::uint32_t replaces, const std::string& icon,
                                  const std::string&, const std::string& body, const std::vector<std::string>& actions,
                                  const std::map<std::string, sdbus::Variant>& hints, std::int32_t timeout) {
                Notice notice{application, replaces, icon, body, actions, 0, timeout};
                if (auto urgency = hints.find("urgency"); urgency != hints.end())
                    notice.urgency = urgency->second.get<std::uint8_t>();
                return notify(std::move(notice));
            });
        object_->registerMethod("CloseNotification").onInterface(kInterface).implementedAs([this](std::uint32_t id) {
            std::lock_guard guard(mutex_);
            closed_.push_back(id);
        });
        object_->registerSignal("ActionInvoked").onInterface(kInterface).withParameters<std::uint32_t, std::string>();
        object_->finishRegistration();
        bus_->enterEventLoopAsync();
    }
    ~FakeNotificationServer() {
        releaseHold();
        bus_->leaveEventLoop();
        object_.reset();
    }

    std::vector<Notice> notices() const {
        std::lock_guard guard(mutex_);
        return notices_;
    }
    std::vector<std::uint32_t> closed() const {
        std::lock_guard guard(mutex_);
        return closed_;
    }
    // The user presses a button of a bubble.
    void press(std::uint32_t id, const std::string& button) {
        object_->emitSignal("ActionInvoked").onInterface(kInterface).withArguments(id, button);
    }
    void hold() {
        std::lock_guard guard(mutex_);
        holding_ = true;
    }
    void releaseHold() {
        std::lock_guard guard(mutex_);
        holding_ = false;
        changed_.notify_all();
    }
    // True once a Notify call is waiting behind the hold.
    bool waitUntilStuck() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return stuck_ > 0; });
    }

private:
    static constexpr const char* kInterface = "org.freedesktop.Notifications";

    std::uint32_t notify(Notice notice) {
        std::unique_lock lock(mutex_);
        ++stuck_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !holding_; });
        --stuck_;
        notices_.push_back(std::move(notice));
        // The server keeps the identifier it is asked to replace, as real servers do.
        return notices_.back().replaces != 0 ? notices_.back().replaces : nextID_++;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notice> notices_;
    std::vector<std::uint32_t> closed_;
    std::uint32_t nextID_ = 1;
    bool holding_ = false;
    int stuck_ = 0;
    std::unique_ptr<sdbus::IConnection> bus_;
    std::unique_ptr<sdbus::IObject> object_;
};

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
    Recorder<std::string> presses;
    const auto record = [&presses](std::string button) { return [&presses, button] { presses.record(button); }; };
    DesktopShutdownNotifier notifier(busOpenerAt(bus.address()), {record("cancel"), record("now")});
    notifier.show(restartAt(30));
    notifier.waitUntilIdle();
    const std::uint32_t id = notifier.shownID();
    EXPECT_EQ(server.notices().back().actions, (std::vector<std::string>{"cancel", "Cancel", "now", "Restart now"}));

    server.press(id + 1, "cancel");  // another application's bubble
    server.press(id, "default");     // a click on the bubble itself
    server.press(id, "now");
    ASSERT_TRUE(presses.waitForCount(1));
    EXPECT_EQ(presses.entries(), std::vector<std::string>{"now"});
}

// The shutdown executors. Nothing here may reach the machine's own logind: the logind executor
// only ever gets a bus opener for a dbus-daemon that the test started itself.

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
