#include "agent/power/ShutdownCountdown.h"

#include <chrono>
#include <condition_variable>
#include <exception>

#include "agent/support/Log.h"

namespace kx {

namespace {

constexpr auto kOneSecond = std::chrono::seconds(1);
constexpr std::string_view kEmDash = "\xE2\x80\x94";

// condition_variable_any waits on steady_clock and wakes as soon as a stop is requested.
void sleepOneSecondOnMonotonicClock(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, kOneSecond, [] { return false; });
}

std::string_view phrase(ShutdownAction action) {
    return action == ShutdownAction::restart ? "Restarting" : "Shutting down";
}

}  // namespace

std::string ShutdownCountdown::Snapshot::message() const {
    std::string text(phrase(action));
    text += " in " + std::to_string(remaining) + " seconds ";
    text += kEmDash;
    text += " requested from " + deviceName;
    return text;
}

std::string ShutdownCountdown::Snapshot::nowButtonTitle() const {
    return action == ShutdownAction::restart ? "Restart now" : "Shut down now";
}

ShutdownCountdown::StartError::StartError(Case c)
    : std::runtime_error("A shutdown is already counting down"), which(c) {}

std::shared_ptr<ShutdownCountdown> ShutdownCountdown::make(std::shared_ptr<ShutdownExecuting> executor, int seconds,
                                                           Sleeper sleepOneSecond) {
    return std::shared_ptr<ShutdownCountdown>(
        new ShutdownCountdown(std::move(executor), seconds, std::move(sleepOneSecond)));
}

ShutdownCountdown::ShutdownCountdown(std::shared_ptr<ShutdownExecuting> executor, int seconds, Sleeper sleepOneSecond)
    : seconds_(seconds < 1 ? 1 : seconds),
      executor_(std::move(executor)),
      sleepOneSecond_(sleepOneSecond ? std::move(sleepOneSecond) : Sleeper(sleepOneSecondOnMonotonicClock)) {}

ShutdownCountdown::~ShutdownCountdown() {
    // The last owner may be a ticker that was running a step: it cannot join itself.
    if (driver_) {
        driver_->request_stop();
        retired_.push_back(std::move(*driver_));
        driver_.reset();
    }
    joinRetiredTickers();
}

void ShutdownCountdown::setOnChange(Observer observer) {
    std::lock_guard guard(lock_);
    onChange_ = std::move(observer);
}

std::optional<ShutdownCountdown::Snapshot> ShutdownCountdown::current() const {
    std::lock_guard guard(lock_);
    return state_;
}

void ShutdownCountdown::start(ShutdownAction action, std::string deviceName) {
    joinRetiredTickers();
    std::uint64_t generation = 0;
    Snapshot first;
    Observer observer;
    {
        std::lock_guard guard(lock_);
        if (state_) throw StartError(StartError::Case::busy);
        generation = ++generation_;
        state_ = Snapshot{action, std::move(deviceName), seconds_};
        first = *state_;
        observer = onChange_;
    }
    publish(observer, first);

    std::jthread ticker(tickLoop, weak_from_this(), sleepOneSecond_, generation);
    std::lock_guard guard(lock_);
    if (generation_ != generation) {
        // Cancelled or carried out while the first snapshot was being published.
        ticker.request_stop();
        retired_.push_back(std::move(ticker));
    } else {
        driver_ = std::move(ticker);
    }
}

std::optional<ShutdownCountdown::Snapshot> ShutdownCountdown::cancel() {
    return end();
}

std::optional<ShutdownCountdown::Snapshot> ShutdownCountdown::now() {
    const auto ended = end();
    if (ended) carryOut(ended->action);
    return ended;
}

std::optional<ShutdownCountdown::Snapshot> ShutdownCountdown::end() {
    Observer observer;
    std::optional<Snapshot> ended;
    {
        std::lock_guard guard(lock_);
        if (!state_) return std::nullopt;
        ended = state_;
        finishLocked();
        observer = onChange_;
    }
    publish(observer, std::nullopt);
    return ended;
}

void ShutdownCountdown::tickLoop(std::stop_token stop, std::weak_ptr<ShutdownCountdown> weakSelf, Sleeper sleep,
                                 std::uint64_t generation) {
    try {
        while (!stop.stop_requested()) {
            sleep(stop);
            if (stop.stop_requested()) return;
            // Held strongly only for one step, never across a sleep.
            auto self = weakSelf.lock();
            if (!self || !self->tick(generation)) return;
        }
    } catch (const std::exception& error) {
        log::error(std::string("shutdown countdown stopped: ") + error.what());
    } catch (...) {
        log::error("shutdown countdown stopped");
    }
}

bool ShutdownCountdown::tick(std::uint64_t generation) {
    std::unique_lock guard(lock_);
    if (!state_ || generation_ != generation) return false;
    const Observer observer = onChange_;
    const int remaining = state_->remaining - 1;
    if (remaining >= 1) {
        state_->remaining = remaining;
        const Snapshot snapshot = *state_;
        guard.unlock();
        publish(observer, snapshot);
        return true;
    }
    const ShutdownAction action = state_->action;
    finishLocked();
    guard.unlock();
    publish(observer, std::nullopt);
    carryOut(action);
    return false;
}

void ShutdownCountdown::finishLocked() {
    state_.reset();
    ++generation_;
    if (driver_) {
        driver_->request_stop();
        retired_.push_back(std::move(*driver_));
        driver_.reset();
    }
}

void ShutdownCountdown::joinRetiredTickers() {
    std::vector<std::jthread> retired;
    {
        std::lock_guard guard(lock_);
        retired.swap(retired_);
    }
    for (auto& ticker : retired) {
        // A ticker whose own step ends the countdown or drops the last owner ends by itself.
        if (ticker.get_id() == std::this_thread::get_id()) ticker.detach();
    }
    // Destroying the rest joins them; each was asked to stop, so its sleep ends at once.
}

void ShutdownCountdown::publish(const Observer& observer, const std::optional<Snapshot>& snapshot) {
    if (!observer) return;
    try {
        observer(snapshot);
    } catch (const std::exception& error) {
        log::error(std::string("shutdown observer failed: ") + error.what());
    } catch (...) {
        log::error("shutdown observer failed");
    }
}

void ShutdownCountdown::carryOut(ShutdownAction action) {
    if (!executor_) return;
    try {
        executor_->perform(action);
    } catch (const std::exception& error) {
        log::error(std::string("shutdown executor failed: ") + error.what());
    } catch (...) {
        log::error("shutdown executor failed");
    }
}

}  // namespace kx
