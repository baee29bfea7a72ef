#include <gtest/gtest.h>

#include <future>

#include "agent/control/InputMutex.h"

using namespace kx;

TEST(InputMutex, HeldOnlyWhileABodyRunsEvenWhenItThrowsAndBodiesNeverOverlap) {
    InputMutex mutex;
    EXPECT_EQ(mutex.hold([&] { return mutex.isHeld() ? 7 : 0; }), 7);
    EXPECT_FALSE(mutex.isHeld());
    EXPECT_THROW(mutex.hold([]() -> int { throw std::runtime_error("body"); }), std::runtime_error);
    EXPECT_FALSE(mutex.isHeld());

    std::promise<void> inside, release;
    auto first = std::async(std::launch::async, [&] {
        mutex.hold([&] {
            inside.set_value();
            release.get_future().wait();
        });
    });
    inside.get_future().wait();
    std::atomic<bool> secondRan{false};
    auto second = std::async(std::launch::async, [&] { mutex.hold([&] { secondRan = true; }); });
    EXPECT_EQ(second.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_FALSE(secondRan);
    release.set_value();
    first.get();
    second.get();
    EXPECT_TRUE(secondRan);
}
