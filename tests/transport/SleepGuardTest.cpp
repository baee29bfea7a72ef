#include <gtest/gtest.h>

#include <atomic>

#include "agent/transport/SleepGuard.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/e2e/support/RawPeer.h"
#include "tests/support/Recorder.h"

using namespace kx;
using e2e::eventually;

namespace {

// Stands for the system's power service: counts the inhibitions alive and records the reasons.
struct RecordingSleepInhibitor : SleepInhibitor {
    struct Held : SleepInhibition {
        explicit Held(std::atomic<int>& alive) : counter(alive) { ++counter; }
        ~Held() override { --counter; }
        std::atomic<int>& counter;
    };
    std::unique_ptr<SleepInhibition> inhibit(const std::string& reason) override {
        reasons.record(reason);
        return refuse ? nullptr : std::make_unique<Held>(active);
    }
    std::atomic<int> active{0};
    std::atomic<bool> refuse{false};
    kx::testing::Recorder<std::string> reasons;
};

}  // namespace

// Counted from the moment of acceptance, before any handshake; one inhibition however many connect.
TEST(SleepGuard, AgentStaysAwakeUntilTheLastConnectionLeaves) {
    auto inhibitor = std::make_shared<RecordingSleepInhibitor>();
    e2e::InProcessAgent agent({.sleepInhibitor = inhibitor});
    auto& guard = agent.service().sleepGuard();
    EXPECT_FALSE(guard.isHolding());
    auto first = std::make_unique<e2e::RawPeer>(agent.port());
    auto second = std::make_unique<e2e::RawPeer>(agent.port());
    EXPECT_TRUE(eventually([&] { return agent.service().transport().connectionCount() == 2; }));
    // The guard applies a change on a thread of its own, after the count has changed.
    EXPECT_TRUE(eventually([&] { return guard.isHolding(); }));
    EXPECT_EQ(inhibitor->active.load(), 1);
    EXPECT_EQ(inhibitor->reasons.entries(), std::vector<std::string>{"Kestrix: a phone is connected"});
    first.reset();
    EXPECT_TRUE(eventually([&] { return agent.service().transport().connectionCount() == 1; }));
    EXPECT_TRUE(guard.isHolding());
    second.reset();
    EXPECT_TRUE(eventually([&] { return !guard.isHolding(); }));
    EXPECT_EQ(inhibitor->active.load(), 0);

    auto third = std::make_unique<e2e::RawPeer>(agent.port());
    EXPECT_TRUE(eventually([&] { return guard.isHolding(); }));
    agent.service().stop();
    EXPECT_TRUE(eventually([&] { return !guard.isHolding(); }));
    EXPECT_EQ(inhibitor->active.load(), 0);
}

// A refused or missing inhibitor is silently not held; a refused one is asked again when the
// count changes.
TEST(SleepGuard, WithoutAnInhibitionNothingIsHeldAndARefusalIsRetried) {
    auto inhibitor = std::make_shared<RecordingSleepInhibitor>();
    inhibitor->refuse = true;
    for (auto& given : {std::shared_ptr<SleepInhibitor>(inhibitor), std::shared_ptr<SleepInhibitor>()}) {
        SleepGuard guard(given);
        guard.hold();
        EXPECT_FALSE(guard.isHolding());
    }
    SleepGuard guard(inhibitor);
    guard.update(1);
    EXPECT_TRUE(inhibitor->reasons.waitForCount(2));
    inhibitor->refuse = false;
    guard.update(2);
    EXPECT_TRUE(eventually([&] { return guard.isHolding(); }));
}
