#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace kx::test {

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

}  // namespace kx::test
