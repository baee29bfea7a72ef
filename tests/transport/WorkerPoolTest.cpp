#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>

#include "agent/transport/WorkerPool.h"
#include "tests/e2e/support/Eventually.h"

using namespace kx;

TEST(WorkerPool, JobsRunSideBySideOffTheCallersThread) {
    WorkerPool pool(4);
    std::atomic<int> inside{0};
    std::atomic<int> onCaller{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto caller = std::this_thread::get_id();
    for (int i = 0; i < 4; ++i)
        pool.post([&, released] {
            if (std::this_thread::get_id() == caller) ++onCaller;
            ++inside;
            released.wait();
        });
    // All four blocking jobs are inside at the same time.
    EXPECT_TRUE(e2e::eventually([&] { return inside.load() == 4; }));
    release.set_value();
    EXPECT_EQ(onCaller.load(), 0);
}

TEST(WorkerPool, ThrowingJobLeavesTheThreadServing) {
    WorkerPool pool(1);
    pool.post([] { throw std::runtime_error("boom"); });
    std::promise<int> after;
    pool.post([&] { after.set_value(7); });
    EXPECT_EQ(after.get_future().get(), 7);
}

TEST(WorkerPool, LastOwnerMayLetGoFromInsideAJob) {
    auto pool = std::make_shared<WorkerPool>(2);
    std::promise<void> done;
    auto finished = done.get_future();
    std::shared_ptr<WorkerPool>* slot = &pool;
    std::promise<void> handedOver;
    auto handed = handedOver.get_future().share();
    pool->post([slot, handed, &done] {
        handed.wait();
        slot->reset();  // destroys the pool on its own thread
        done.set_value();
    });
    handedOver.set_value();
    EXPECT_EQ(finished.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(pool, nullptr);
}
