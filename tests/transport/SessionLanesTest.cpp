#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "agent/transport/SessionLanes.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/Recorder.h"

using namespace kx;
using e2e::eventually;

namespace {
constexpr auto kWait = std::chrono::seconds(5);
constexpr int kJobs = 200;
}  // namespace

TEST(SessionLanes, ALaneRunsItsJobsOneAtATimeInOrderWhileOtherWorkPassesItsBlockedHead) {
    auto workers = std::make_shared<WorkerPool>(4);
    std::atomic<int> drained{0};
    auto lanes = std::make_shared<SessionLanes>(workers, [&] { ++drained; });
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    kx::testing::Recorder<int> order;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};

    lanes->post("input", [released] { released.wait(); });
    for (int i = 0; i < kJobs; ++i)
        lanes->post("input", [&, i] {
            if (++inside > 1) overlapped = true;
            order.record(i);
            --inside;
            if (i == kJobs / 2) throw std::runtime_error("a failing job ends only its own turn");
        });
    std::promise<void> otherLane, unordered;
    lanes->post(
        "session\x1f"
        "a",
        [&] { otherLane.set_value(); });
    lanes->post(std::nullopt, [&] { unordered.set_value(); });
    EXPECT_EQ(otherLane.get_future().wait_for(kWait), std::future_status::ready);
    EXPECT_EQ(unordered.get_future().wait_for(kWait), std::future_status::ready);
    EXPECT_TRUE(order.entries().empty());

    // Closing does not cut the lane short: the observer hears of it after the last job.
    lanes->close();
    EXPECT_EQ(drained.load(), 0);
    release.set_value();
    ASSERT_TRUE(eventually([&] { return drained.load() == 1; }));
    std::vector<int> expected(kJobs);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order.entries(), expected);
    EXPECT_FALSE(overlapped.load());
}

// Lanes catch their jobs' failures themselves; the pool must survive those of a job posted to it directly.
TEST(WorkerPool, ThrowingJobLeavesTheThreadServingAndTheLastOwnerMayLetGoFromInsideAJob) {
    auto pool = std::make_shared<WorkerPool>(1);
    pool->post([] { throw std::runtime_error("boom"); });
    std::promise<void> handedOver, done;
    auto finished = done.get_future();
    pool->post([slot = &pool, handed = handedOver.get_future().share(), &done] {
        handed.wait();  // until post() has returned
        slot->reset();  // destroys the pool on its own thread
        done.set_value();
    });
    handedOver.set_value();
    EXPECT_EQ(finished.wait_for(kWait), std::future_status::ready);
    EXPECT_EQ(pool, nullptr);
}
