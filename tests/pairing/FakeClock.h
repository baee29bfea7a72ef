#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace kx::test {

// A wall clock that moves only when told to; copies share the same time. Safe from any thread.
class FakeClock {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    explicit FakeClock(TimePoint start = TimePoint(std::chrono::seconds(1'767'607'200)))
        : state_(std::make_shared<State>(start)) {}

    TimePoint now() const {
        std::lock_guard guard(state_->lock);
        return state_->time;
    }
    void advance(std::chrono::system_clock::duration step) {
        std::lock_guard guard(state_->lock);
        state_->time += step;
    }
    void set(TimePoint time) {
        std::lock_guard guard(state_->lock);
        state_->time = time;
    }
    std::function<TimePoint()> function() const {
        return [state = state_] {
            std::lock_guard guard(state->lock);
            return state->time;
        };
    }

private:
    struct State {
        explicit State(TimePoint t) : time(t) {}
        std::mutex lock;
        TimePoint time;
    };
    std::shared_ptr<State> state_;
};

}  // namespace kx::test
