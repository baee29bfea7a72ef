#include <gtest/gtest.h>

#include <future>

#include "agent/control/InputMutex.h"

using namespace kx;
using namespace std::chrono;

namespace {

// A fake desktop: which application is in front, and a clock that only moves when someone sleeps.
struct FakeDesktop {
    std::optional<std::string> front = "com.example.previous";
    std::vector<std::string> activations;
    std::vector<double> sleeps;
    steady_clock::time_point now{};
    int pollsUntilFront = 0;  // frontmost() calls after an activation before it takes effect
    bool acceptActivation = true;
    std::optional<std::string> pending;

    InputMutex makeMutex() {
        InputMutex::Clock clock;
        clock.now = [this] { return now; };
        clock.sleep = [this](duration<double> d) {
            sleeps.push_back(d.count());
            now += duration_cast<steady_clock::duration>(d);
        };
        return InputMutex({}, clock);
    }
    InputMutex::Frontmost frontmost() {
        return [this] {
            if (pending && pollsUntilFront-- <= 0) front = std::exchange(pending, std::nullopt);
            return front;
        };
    }
    InputMutex::Activate activate() {
        return [this](const std::string& id) {
            activations.push_back(id);
            if (acceptActivation) pending = id;
            return acceptActivation;
        };
    }
};

const std::string kTarget = "com.example.editor";

}  // namespace

TEST(InputMutex, HoldMarksHeldOnlyWhileTheBodyRunsEvenWhenItThrows) {
    InputMutex mutex;
    EXPECT_EQ(mutex.hold([&] { return mutex.isHeld() ? 7 : 0; }), 7);
    EXPECT_FALSE(mutex.isHeld());
    EXPECT_THROW(mutex.hold([]() -> int { throw std::runtime_error("body"); }), std::runtime_error);
    EXPECT_FALSE(mutex.isHeld());
}

TEST(InputMutex, HoldSerialisesOperations) {
    InputMutex mutex;
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
    EXPECT_EQ(second.wait_for(milliseconds(50)), std::future_status::timeout);
    EXPECT_FALSE(secondRan);
    release.set_value();
    first.get();
    second.get();
    EXPECT_TRUE(secondRan);
}

TEST(InputMutex, RunActivatesWaitsSettlesAndRestoresFocus) {
    FakeDesktop desk;
    desk.pollsUntilFront = 3;
    auto mutex = desk.makeMutex();
    bool heldInBody = false;
    auto result = mutex.run(kTarget, desk.frontmost(), desk.activate(), true, [&] {
        heldInBody = mutex.isHeld();
        return std::string("typed");
    });
    EXPECT_EQ(result, "typed");
    EXPECT_TRUE(heldInBody);
    EXPECT_FALSE(mutex.isHeld());
    EXPECT_EQ(desk.activations, (std::vector<std::string>{kTarget, "com.example.previous"}));
    // Three polls before the target came to the front, one settle after that and one after the body.
    EXPECT_EQ(desk.sleeps, (std::vector<double>{0.05, 0.05, 0.05, 0.03, 0.03}));
}

TEST(InputMutex, RunLeavesFocusAloneWhenAskedOrAlreadyInFront) {
    FakeDesktop desk;
    auto mutex = desk.makeMutex();
    mutex.run(kTarget, desk.frontmost(), desk.activate(), false, [] {});
    EXPECT_EQ(desk.activations, std::vector<std::string>{kTarget});

    desk.activations.clear();
    desk.sleeps.clear();
    mutex.run(kTarget, desk.frontmost(), desk.activate(), true, [] {});
    EXPECT_TRUE(desk.activations.empty());  // already frontmost: neither activated nor restored
    EXPECT_EQ(desk.sleeps, std::vector<double>{0.03});
}

TEST(InputMutex, RunFailuresReleaseTheMutexAndMapToWireErrors) {
    FakeDesktop desk;
    auto mutex = desk.makeMutex();
    bool bodyRan = false;

    desk.acceptActivation = false;
    try {
        mutex.run(kTarget, desk.frontmost(), desk.activate(), true, [&] { bodyRan = true; });
        FAIL() << "ran";
    } catch (const InputMutex::Failure& f) {
        EXPECT_EQ(f, InputMutex::Failure(InputMutex::Failure::Case::targetNotFound, kTarget));
        EXPECT_EQ(f.wireError(),
                  WireError(ErrorCode::targetNotFound, "That app is not running", JSONObject{{"bundleId", kTarget}}));
    }
    EXPECT_FALSE(mutex.isHeld());

    desk.acceptActivation = true;
    desk.pollsUntilFront = 1000;  // never comes to the front in time
    const auto started = desk.now;
    try {
        mutex.run(kTarget, desk.frontmost(), desk.activate(), true, [&] { bodyRan = true; });
        FAIL() << "ran";
    } catch (const InputMutex::Failure& f) {
        EXPECT_EQ(f.which, InputMutex::Failure::Case::targetNotReady);
        EXPECT_EQ(f.wireError(), WireError(ErrorCode::targetNotReady, "That app did not come to the front in time",
                                           JSONObject{{"bundleId", kTarget}}));
    }
    const double waited = duration<double>(desk.now - started).count();
    EXPECT_GE(waited, 2.0);
    EXPECT_LT(waited, 2.0 + 0.05 + 1e-9);
    EXPECT_FALSE(bodyRan);
    EXPECT_FALSE(mutex.isHeld());
}

TEST(InputMutex, RunRethrowsTheBodysErrorWithoutRestoringFocus) {
    FakeDesktop desk;
    auto mutex = desk.makeMutex();
    EXPECT_THROW(mutex.run(kTarget, desk.frontmost(), desk.activate(), true,
                           []() -> int { throw WireError::invalidParams("x"); }),
                 WireError);
    EXPECT_EQ(desk.activations, std::vector<std::string>{kTarget});
    EXPECT_FALSE(mutex.isHeld());
}
