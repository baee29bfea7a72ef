#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "agent/pairing/PairingExpiryTick.h"
#include "agent/pairing/PairingService.h"
#include "protocol/Base64URL.h"
#include "protocol/KxSec.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/ScopedVariable.h"

using namespace kx;
using namespace std::chrono_literals;
using Case = PairingError::Case;

namespace {

// A wall clock that moves only when told to; copies share the same time. Safe from any thread.
class FakeClock {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    TimePoint now() const { return time_->load(); }
    void advance(std::chrono::system_clock::duration step) { time_->store(now() + step); }
    void set(TimePoint time) { time_->store(time); }
    std::function<TimePoint()> function() const {
        return [time = time_] { return time->load(); };
    }

private:
    std::shared_ptr<std::atomic<TimePoint>> time_ =
        std::make_shared<std::atomic<TimePoint>>(TimePoint(std::chrono::seconds(1'767'607'200)));
};

std::string newDeviceKey() {
    return base64URLEncode(SigningKey::generate().publicKey);
}

// Sets or removes KX_PAIRING_LIFETIME for the life of the object.
kx::testing::ScopedVariable lifetimeVariable(const char* value) {
    return {PairingService::lifetimeVariable, value ? std::optional<std::string>(value) : std::nullopt};
}

class PairingServiceTest : public ::testing::Test {
protected:
    FakeClock clock;
    std::shared_ptr<DeviceRegistry> registry = std::make_shared<DeviceRegistry>();
    std::shared_ptr<PairingService> service = std::make_shared<PairingService>(registry, clock.function());

    void expectRefusal(const std::string& token, Case expected, const std::string& key = newDeviceKey()) {
        try {
            service->redeem(token, "Phone", key, "iOS 17");
            ADD_FAILURE() << "redeem succeeded, expected case " << static_cast<int>(expected);
        } catch (const PairingError& error) {
            EXPECT_EQ(error.which, expected) << error.what();
        }
    }
};

constexpr auto kInterval = 5ms;
constexpr auto kPatience = 10s;  // only bounds a hang; no timing is asserted

// A service on the fake clock and an expiry tick for it that counts its calls.
struct TickRig {
    FakeClock clock;
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

TEST(PairingLifetime, ReadsTheVariableOnEveryCallAndFallsBackToSixtySeconds) {
    const std::pair<const char*, double> cases[] = {
        {nullptr, 60},  {"120", 120}, {"0", 60},        {"-5", 60},    {"3601", 60}, {"letters", 60}, {"", 60},
        {"3600", 3600}, {"0.5", 0.5}, {"3600.0", 3600}, {"12abc", 60}, {"nan", 60},  {"inf", 60},     {" 120", 60},
    };
    for (auto [text, seconds] : cases) {
        SCOPED_TRACE(text ? text : "(absent)");
        auto variable = lifetimeVariable(text);
        EXPECT_DOUBLE_EQ(PairingService::lifetime().count(), seconds);
    }
}

TEST_F(PairingServiceTest, TokenExpiresAtTheEndOfTheConfiguredLifetime) {
    auto variable = lifetimeVariable("120");
    auto token = service->issueToken();
    EXPECT_EQ(token.expiresAt, clock.now() + 120s);
    EXPECT_EQ(base64URLDecode(token.value)->size(), PairingService::tokenBytes);
    clock.advance(119s);
    EXPECT_TRUE(service->isPairing());
    clock.set(token.expiresAt);
    EXPECT_FALSE(service->isPairing());  // the expiry instant itself is already over
    expectRefusal(token.value, Case::tokenExpired);
    clock.set(token.expiresAt - 1ms);
    EXPECT_NO_THROW(service->redeem(token.value, "Phone", newDeviceKey(), "iOS"));
}

TEST_F(PairingServiceTest, RedeemRegistersTheDeviceAndConsumesTheToken) {
    auto token = service->issueToken();
    auto key = newDeviceKey();
    auto device = service->redeem(token.value, "Ada's phone", key, "iOS 17.4");
    EXPECT_EQ(device.id.substr(0, 2), "d_");
    EXPECT_EQ(base64URLDecode(device.id.substr(2))->size(), PairingService::deviceIDBytes);
    EXPECT_EQ(device, (PairedDevice{device.id, "Ada's phone", key, clock.now(), std::nullopt, "iOS 17.4"}));
    EXPECT_EQ(registry->device(device.id), device);
    EXPECT_FALSE(service->isPairing());
    EXPECT_FALSE(service->activeToken());
}

TEST_F(PairingServiceTest, ATokenPairsOnePhoneOnlyAndANewCodeOrCancelEndsTheOld) {
    auto token = service->issueToken();
    service->redeem(token.value, "Phone", newDeviceKey(), "iOS");
    expectRefusal(token.value, Case::notPairing);
    auto next = service->issueToken();
    expectRefusal(token.value, Case::tokenAlreadyUsed);
    EXPECT_TRUE(service->isPairing()) << "a refused replay must leave the new code open";
    EXPECT_NO_THROW(service->redeem(next.value, "Other", newDeviceKey(), "Android"));

    auto old = service->issueToken(), replacing = service->issueToken();
    EXPECT_NE(old.value, replacing.value);
    expectRefusal(old.value, Case::unknownToken);
    service->cancel();
    expectRefusal(replacing.value, Case::notPairing);
    EXPECT_EQ(registry->all().size(), 2u);
}

TEST_F(PairingServiceTest, AMalformedDeviceKeyLeavesTheTokenUsable) {
    auto token = service->issueToken();
    Bytes shortKey(31, 0x42);
    expectRefusal(token.value, Case::malformedDeviceKey, base64URLEncode(shortKey));
    expectRefusal(token.value, Case::malformedDeviceKey, "not base64 !");
    // 32 bytes that are not a point on the curve can never verify a signature.
    Key32 offCurve{};
    offCurve.fill(0xff);
    expectRefusal(token.value, Case::malformedDeviceKey, base64URLEncode(offCurve));
    EXPECT_TRUE(service->isPairing());
    EXPECT_TRUE(registry->all().empty());
    EXPECT_NO_THROW(service->redeem(token.value, "Phone", newDeviceKey(), "iOS"));
}

TEST_F(PairingServiceTest, ConcurrentRedeemsOfOneTokenAdmitExactlyOnePhone) {
    constexpr int kThreads = 8;
    auto token = service->issueToken();
    std::atomic<int> admitted{0}, refused{0};
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&] {
                try {
                    service->redeem(token.value, "Phone", newDeviceKey(), "iOS");
                    ++admitted;
                } catch (const PairingError&) {
                    ++refused;
                }
            });
    }
    EXPECT_EQ(admitted, 1);
    EXPECT_EQ(refused, kThreads - 1);
    EXPECT_EQ(registry->all().size(), 1u);
}

TEST(PairingExpiryTick, ClearsOnlyAnExpiredCodeAndCallsBackOnce) {
    TickRig f;
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
    TickRig f;
    auto token = f.service->issueToken();
    auto tick = f.startTick();
    std::weak_ptr<PairingService> weak = f.service;
    f.service.reset();
    // The tick holds the service only for the instant of a check.
    EXPECT_TRUE(kx::e2e::eventually([&] { return weak.expired(); }, kPatience))
        << "the tick must not keep the service alive";
    f.clock.set(token.expiresAt + 1s);
    std::this_thread::sleep_for(10 * kInterval);
    tick.reset();
    EXPECT_EQ(f.calls, 0);
}
