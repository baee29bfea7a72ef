#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace kx::testing {

// Records values from any thread and waits, with a generous limit, until enough have arrived.
template <typename T>
class Recorder {
public:
    // Long enough never to trip on a loaded machine; only reached when something is broken.
    static constexpr auto patience = std::chrono::seconds(20);

    // Notifies under the lock: a waiter that sees the value may destroy the recorder at once, while
    // a thread of the code under test is still recording.
    void record(const T& value) {
        std::lock_guard guard(mutex_);
        values_.push_back(value);
        changed_.notify_all();
    }
    std::vector<T> entries() const {
        std::lock_guard guard(mutex_);
        return values_;
    }
    void clear() {
        std::lock_guard guard(mutex_);
        values_.clear();
    }
    bool waitForCount(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return values_.size() >= count; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<T> values_;
};

}  // namespace kx::testing
