#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "agent/support/MainQueue.h"

namespace kx::testing {

// A main thread that the test drives: posted tasks wait until run(), and timed tasks until the
// test advances its clock far enough.
class ManualMainQueue : public MainQueue {
public:
    void post(Task task) override {
        std::lock_guard guard(lock_);
        posted_.push_back(std::move(task));
    }

    void after(std::chrono::milliseconds delay, Task task) override { schedule(delay, std::move(task), {}); }

    std::unique_ptr<Repeat> every(std::chrono::milliseconds interval, Task task) override {
        auto repeat = std::make_unique<Repeating>();
        auto alive = repeat->alive;
        schedule(interval, std::move(task), {interval, alive, {}});
        return repeat;
    }

    // Runs the posted tasks, including those they post.
    void run() {
        for (;;) {
            Task task;
            {
                std::lock_guard guard(lock_);
                if (posted_.empty()) return;
                task = std::move(posted_.front());
                posted_.pop_front();
            }
            task();
        }
    }

    // Moves the clock on, running every timed task that falls due on the way, in time order.
    void advance(std::chrono::milliseconds by) {
        auto end = now_ + by;
        run();
        while (!timers_.empty() && timers_.begin()->first <= end) {
            auto entry = timers_.extract(timers_.begin());
            now_ = entry.key();
            Timed timed = std::move(entry.mapped());
            if (timed.alive && !*timed.alive) continue;
            timed.task();
            if (timed.alive && *timed.alive) schedule(timed.interval, std::move(timed.task), timed);
            run();
        }
        now_ = end;
    }

    // Repeating tasks still running.
    std::size_t liveRepeats() const {
        std::size_t count = 0;
        for (const auto& [at, timed] : timers_)
            if (timed.alive && *timed.alive) ++count;
        return count;
    }

private:
    struct Repeating : Repeat {
        std::shared_ptr<bool> alive = std::make_shared<bool>(true);
        ~Repeating() override { cancel(); }
        void cancel() override { *alive = false; }
    };
    struct Timed {
        std::chrono::milliseconds interval{};
        std::shared_ptr<bool> alive;
        Task task;
    };

    void schedule(std::chrono::milliseconds delay, Task task, Timed timed) {
        timed.task = std::move(task);
        timers_.emplace(now_ + delay, std::move(timed));
    }

    std::mutex lock_;
    std::deque<Task> posted_;
    std::chrono::milliseconds now_{0};
    std::multimap<std::chrono::milliseconds, Timed> timers_;
};

}  // namespace kx::testing
