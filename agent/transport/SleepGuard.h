#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "agent/transport/SleepInhibitor.h"

namespace kx {

// Keeps the machine awake while a phone is connected. Safe from any thread.
class SleepGuard {
public:
    static constexpr std::string_view reason = "Kestrix: a phone is connected";

    // With a null inhibitor the guard never holds.
    explicit SleepGuard(std::shared_ptr<SleepInhibitor> inhibitor);
    ~SleepGuard();

    // Takes an inhibition unless one is held; one that cannot be taken is silently not held.
    void hold();
    void release();
    bool isHolding() const;

    // Holds for one or more connections and releases for none. Applied on the guard's own
    // thread, so that a slow power service never delays the caller (the transport queue); when
    // calls come faster than the service answers, only the latest count is applied. A count that
    // changes nothing (another phone while holding) does not wake that thread.
    void update(std::size_t connections);

private:
    void applyUpdates(std::stop_token stop);

    std::shared_ptr<SleepInhibitor> inhibitor_;
    mutable std::mutex lock_;
    std::unique_ptr<SleepInhibition> inhibition_;
    std::atomic<bool> held_{false};  // inhibition_ is set; read without lock_, which a slow hold() keeps

    std::mutex wantedLock_;
    std::condition_variable_any wantedChanged_;
    std::optional<bool> wanted_;  // not yet taken by the applier
    bool lastTaken_ = false;      // what the applier took last
    std::jthread applier_;
};

}  // namespace kx
