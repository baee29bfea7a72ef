#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "agent/support/CallbackGate.h"

using namespace kx;

// Closing waits for a callback running on another thread, and nothing runs once it is closed; a
// callback that closes its own gate is not waited for.
TEST(CallbackGate, CloseWaitsForCallbacksInFlightAndRefusesLaterOnes) {
    CallbackGate gate;
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    std::thread caller([&] {
        gate.run([&] {
            entered.set_value();
            released.wait();
        });
    });
    entered.get_future().wait();

    std::atomic<bool> closed{false};
    std::thread closer([&] {
        gate.close();
        closed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(closed);
    release.set_value();
    caller.join();
    closer.join();
    EXPECT_TRUE(closed);

    bool ran = false;
    EXPECT_FALSE(gate.run([&] { ran = true; }));
    EXPECT_FALSE(ran);

    CallbackGate selfClosing;
    EXPECT_TRUE(selfClosing.run([&] { selfClosing.close(); }));
    EXPECT_FALSE(selfClosing.run([] {}));
}
