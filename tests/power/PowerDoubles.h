#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

#include "agent/power/ShutdownCountdown.h"
#include "tests/support/Recorder.h"

namespace kx::testing {

// Records every action instead of carrying it out.
class RecordingExecutor : public ShutdownExecuting, public Recorder<ShutdownAction> {
public:
    void perform(ShutdownAction action) override { record(action); }
    std::vector<ShutdownAction> actions() const { return entries(); }
};

// Records what a countdown's observer receives. Shared with the observer, because a ticker that
// holds the last reference to its countdown may still be finishing a step after the test ends.
class SnapshotRecorder : public Recorder<std::optional<ShutdownCountdown::Snapshot>>,
                         public std::enable_shared_from_this<SnapshotRecorder> {
public:
    using Entry = std::optional<ShutdownCountdown::Snapshot>;

    ShutdownCountdown::Observer observer() {
        return [self = shared_from_this()](const Entry& entry) { self->record(entry); };
    }
    // The remaining counts seen, with 0 standing for an absent snapshot.
    std::vector<int> counts() const {
        std::vector<int> result;
        for (const auto& entry : entries()) result.push_back(entry ? entry->remaining : 0);
        return result;
    }
};

// A sleeper whose seconds pass only when the test lets them; a stop request wakes it at once.
class TickGate {
public:
    static std::shared_ptr<TickGate> make() { return std::make_shared<TickGate>(); }

    static ShutdownCountdown::Sleeper sleeper(const std::shared_ptr<TickGate>& gate) {
        return [gate](std::stop_token stop) { gate->sleep(stop); };
    }
    void release(int seconds) {
        {
            std::lock_guard guard(mutex_);
            permits_ += seconds;
        }
        changed_.notify_all();
    }
    // True once some ticker is asleep in the gate.
    bool waitUntilSleeping() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, Recorder<int>::patience, [&] { return sleeping_ > 0; });
    }

private:
    void sleep(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        ++sleeping_;
        changed_.notify_all();
        if (changed_.wait(lock, stop, [&] { return permits_ > 0; })) --permits_;
        --sleeping_;
    }

    std::mutex mutex_;
    std::condition_variable_any changed_;
    int permits_ = 0;
    int sleeping_ = 0;
};

}  // namespace kx::testing
