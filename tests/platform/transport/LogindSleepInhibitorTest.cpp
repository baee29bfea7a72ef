#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>
#include <mutex>

#include "platform/linux/transport/LogindSleepInhibitor.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TempFolder.h"

using namespace kx;

namespace {

// Answers Inhibit with the write end of a pipe and keeps the read end: the lock is held while
// the read end sees no end of file.
class StandInLogind {
public:
    explicit StandInLogind(const std::string& address)
        : connection_(sdbus::createSessionBusConnectionWithAddress(address)) {
        connection_->requestName("org.freedesktop.login1");
        object_ = sdbus::createObject(*connection_, "/org/freedesktop/login1");
        object_->registerMethod("Inhibit")
            .onInterface("org.freedesktop.login1.Manager")
            .implementedAs([this](const std::string& what, const std::string& who, const std::string& why,
                                  const std::string& mode) {
                int ends[2];
                if (::pipe2(ends, O_CLOEXEC) != 0) throw sdbus::Error("org.test.Failed", "pipe");
                std::lock_guard guard(lock_);
                arguments_ = {what, who, why, mode};
                readEnd_ = ends[0];
                return sdbus::UnixFd(ends[1], sdbus::adopt_fd);
            });
        object_->finishRegistration();
        connection_->enterEventLoopAsync();
    }
    ~StandInLogind() {
        connection_->leaveEventLoop();
        if (readEnd_ >= 0) ::close(readEnd_);
    }
    std::vector<std::string> arguments() {
        std::lock_guard guard(lock_);
        return arguments_;
    }
    bool lockReleased() {
        std::lock_guard guard(lock_);
        pollfd entry{readEnd_, POLLIN, 0};
        return readEnd_ >= 0 && ::poll(&entry, 1, 0) == 1;
    }

private:
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IObject> object_;
    std::mutex lock_;
    std::vector<std::string> arguments_;
    int readEnd_ = -1;
};

// Points the system bus at another address for one test. The inhibitor opens the system bus the
// way the agent does, which also frees its connection when that bus cannot be reached.
kx::testing::ScopedVariable systemBusAt(const std::string& address) {
    return {"DBUS_SYSTEM_BUS_ADDRESS", address};
}

}  // namespace

TEST(LogindSleepInhibitor, HoldsLogindsLockUntilReleased) {
    kx::testing::PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "dbus-daemon could not start";
    StandInLogind logind(bus.address());
    auto systemBus = systemBusAt(bus.address());
    LogindSleepInhibitor inhibitor;

    auto inhibition = inhibitor.inhibit("Kestrix: a phone is connected");
    ASSERT_NE(inhibition, nullptr);
    EXPECT_EQ(logind.arguments(),
              (std::vector<std::string>{"idle:sleep", "Kestrix", "Kestrix: a phone is connected", "block"}));
    EXPECT_FALSE(logind.lockReleased());
    inhibition.reset();
    EXPECT_TRUE(e2e::eventually([&] { return logind.lockReleased(); }));
}

TEST(LogindSleepInhibitor, NothingIsHeldWithoutLogindOrWithoutABus) {
    kx::testing::PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "dbus-daemon could not start";
    {
        auto systemBus = systemBusAt(bus.address());
        EXPECT_EQ(LogindSleepInhibitor().inhibit("x"), nullptr);
    }
    kx::testing::TempFolder empty;
    auto nowhere = systemBusAt("unix:path=" + (empty.path() / "none").string());
    EXPECT_EQ(LogindSleepInhibitor().inhibit("x"), nullptr);
}
