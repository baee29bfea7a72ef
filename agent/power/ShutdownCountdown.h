#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "agent/power/ShutdownAction.h"
#include "agent/power/ShutdownExecuting.h"

namespace kx {

// The one shutdown or restart that may be pending: a visible countdown that the person at the
// computer can cancel or carry out at once. Safe from any thread. Observers and the executor are
// always called after the lock is released, so they may call back into the countdown.
class ShutdownCountdown : public std::enable_shared_from_this<ShutdownCountdown> {
public:
    static constexpr int defaultSeconds = 30;

    struct Snapshot {
        ShutdownAction action = ShutdownAction::shutdown;
        std::string deviceName;
        int remaining = 0;

        // "Restarting in 12 seconds — requested from Pixel", shown to the person at the computer.
        std::string message() const;
        std::string nowButtonTitle() const;

        friend bool operator==(const Snapshot&, const Snapshot&) = default;
    };

    struct StartError : std::runtime_error {
        enum class Case { busy };
        Case which;
        explicit StartError(Case c);
    };

    // Receives each new snapshot, and an absent one when the countdown ends for any reason.
    using Observer = std::function<void(const std::optional<Snapshot>&)>;
    // Waits one second; returns early once the token asks it to stop.
    using Sleeper = std::function<void(std::stop_token)>;

    // seconds below 1 count as 1. The default sleeper waits on the monotonic clock.
    static std::shared_ptr<ShutdownCountdown> make(std::shared_ptr<ShutdownExecuting> executor,
                                                   int seconds = defaultSeconds, Sleeper sleepOneSecond = {});
    ~ShutdownCountdown();
    ShutdownCountdown(const ShutdownCountdown&) = delete;
    ShutdownCountdown& operator=(const ShutdownCountdown&) = delete;

    int seconds() const { return seconds_; }
    void setOnChange(Observer observer);
    std::optional<Snapshot> current() const;

    // Throws StartError busy while a countdown is running.
    void start(ShutdownAction action, std::string deviceName);
    // Both do nothing when idle. They return the countdown they ended, absent when idle, so that
    // a caller can say what it stopped without racing the last tick.
    std::optional<Snapshot> cancel();
    std::optional<Snapshot> now();

private:
    ShutdownCountdown(std::shared_ptr<ShutdownExecuting> executor, int seconds, Sleeper sleepOneSecond);

    static void tickLoop(std::stop_token stop, std::weak_ptr<ShutdownCountdown> weakSelf, Sleeper sleep,
                         std::uint64_t generation);
    // One second has passed for the countdown of `generation`; false when that countdown is over.
    bool tick(std::uint64_t generation);
    // Ends a running countdown without acting and tells the observer; absent when idle.
    std::optional<Snapshot> end();
    void finishLocked();
    void joinRetiredTickers();
    static void publish(const Observer& observer, const std::optional<Snapshot>& snapshot);
    void carryOut(ShutdownAction action);

    const int seconds_;
    const std::shared_ptr<ShutdownExecuting> executor_;
    const Sleeper sleepOneSecond_;

    mutable std::mutex lock_;
    Observer onChange_;
    std::optional<Snapshot> state_;
    std::uint64_t generation_ = 0;
    std::optional<std::jthread> driver_;
    // Tickers told to stop, joined at the next start or at destruction so none outlives its owner.
    std::vector<std::jthread> retired_;
};

}  // namespace kx
