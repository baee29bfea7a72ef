#include <gtest/gtest.h>

#include <future>

#include "agent/pairing/PairingExpiryTick.h"
#include "agent/pairing/PairingService.h"
#include "tests/pairing/FakeClock.h"

using namespace kx;
using namespace std::chrono_literals;

namespace {

constexpr auto kInterval = 5ms;
constexpr auto kPatience = 10s;  // only bounds a hang; no timing is asserted

struct Fixture {
    test::FakeClock clock;
    std::shared_ptr<PairingService> service =
        std::make_shared<PairingService>(std::make_shared<DeviceRegistry>(), clock.function());
    std::promise<void> expired;
    std::atomic<int> calls{0};

    std::unique_ptr<PairingExpiryTick> startTick() {
        return std::make_unique<PairingExpiryTick>(
            service,
            [this] {
                if (calls++ == 0) expired.set_value();
            },
            kInterval);
    }
};

}  // namespace

TEST(PairingExpiryTick, ClearsOnlyAnExpiredCodeAndCallsBackOnce) {
    Fixture f;
    auto first = f.service->issueToken();
    auto done = f.expired.get_future();
    auto tick = f.startTick();
    f.clock.set(first.expiresAt - 1s);
    auto second = f.service->issueToken();  // a later expiry than the first
    f.clock.set(first.expiresAt + 1s);
    EXPECT_EQ(done.wait_for(20 * kInterval), std::future_status::timeout);
    EXPECT_EQ(f.service->activeToken(), second);

    f.clock.set(second.expiresAt);
    ASSERT_EQ(done.wait_for(kPatience), std::future_status::ready);
    EXPECT_FALSE(f.service->activeToken());
    std::this_thread::sleep_for(10 * kInterval);
    EXPECT_EQ(f.calls, 1);
}

TEST(PairingExpiryTick, StopsWithoutCallingWhenTheServiceIsGoneOrTheTickIsDestroyed) {
    Fixture f;
    auto token = f.service->issueToken();
    auto tick = f.startTick();
    std::weak_ptr<PairingService> weak = f.service;
    f.service.reset();
    // The tick holds the service only for the instant of a check.
    for (auto deadline = std::chrono::steady_clock::now() + kPatience;
         !weak.expired() && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::sleep_for(kInterval);
    EXPECT_TRUE(weak.expired()) << "the tick must not keep the service alive";
    f.clock.set(token.expiresAt + 1s);
    std::this_thread::sleep_for(10 * kInterval);
    tick.reset();
    EXPECT_EQ(f.calls, 0);
}
