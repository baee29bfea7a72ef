#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "agent/transport/WorkerPool.h"

using namespace kx;

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
