#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "agent/transport/SleepGuard.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/e2e/support/RawPeer.h"

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
        std::lock_guard guard(lock);
        reasons.push_back(reason);
        return refuse ? nullptr : std::make_unique<Held>(active);
    }
    std::atomic<int> active{0};
    std::atomic<bool> refuse{false};
    std::mutex lock;
    std::vector<std::string> reasons;
};

}  // namespace

// Following the connection count is the agent's test below; here, the guard on its own.
TEST(SleepGuard, HoldsOneInhibitionReleasesItAndLetsGoOnDestruction) {
    auto inhibitor = std::make_shared<RecordingSleepInhibitor>();
    {
        SleepGuard guard(inhibitor);
        guard.hold();
        guard.hold();
        EXPECT_EQ(inhibitor->active.load(), 1);
        EXPECT_EQ(inhibitor->reasons, std::vector<std::string>{"Kestrix: a phone is connected"});
        guard.release();
        guard.release();
        EXPECT_EQ(inhibitor->active.load(), 0);
        guard.update(1);
        EXPECT_TRUE(eventually([&] { return guard.isHolding(); }));
    }
    EXPECT_EQ(inhibitor->active.load(), 0);

    // A refused or missing inhibitor is silently not held.
    inhibitor->refuse = true;
    SleepGuard refused(inhibitor);
    refused.hold();
    EXPECT_FALSE(refused.isHolding());
    SleepGuard none(nullptr);
    none.hold();
    EXPECT_FALSE(none.isHolding());
}

TEST(SleepGuard, AgentStaysAwakeUntilTheLastConnectionLeaves) {
    auto inhibitor = std::make_shared<RecordingSleepInhibitor>();
    e2e::InProcessAgent::Options options;
    options.sleepInhibitor = inhibitor;
    e2e::InProcessAgent agent(options);
    auto& guard = agent.service().sleepGuard();
    EXPECT_FALSE(guard.isHolding());
    auto first = std::make_unique<e2e::RawPeer>(agent.port());
    auto second = std::make_unique<e2e::RawPeer>(agent.port());
    // Counted from the moment of acceptance, before any handshake.
    EXPECT_TRUE(eventually([&] { return guard.isHolding(); }));
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
}
