#include "agent/transport/SleepGuard.h"

#include <string>

namespace kx {

SleepGuard::SleepGuard(std::shared_ptr<SleepInhibitor> inhibitor)
    : inhibitor_(std::move(inhibitor)), applier_([this](std::stop_token stop) { applyUpdates(stop); }) {}

SleepGuard::~SleepGuard() {
    applier_.request_stop();
    applier_.join();
    release();
}

void SleepGuard::hold() {
    std::lock_guard guard(lock_);
    if (inhibition_ || !inhibitor_) return;
    try {
        inhibition_ = inhibitor_->inhibit(std::string(reason));
    } catch (...) {
        inhibition_.reset();
    }
    held_ = inhibition_ != nullptr;
}

void SleepGuard::release() {
    std::lock_guard guard(lock_);
    inhibition_.reset();
    held_ = false;
}

bool SleepGuard::isHolding() const {
    std::lock_guard guard(lock_);
    return inhibition_ != nullptr;
}

void SleepGuard::update(std::size_t connections) {
    const bool wanted = connections >= 1;
    {
        std::lock_guard guard(wantedLock_);
        // Nothing pending, the applier went this way last and it took: nothing to do. An
        // inhibition that could not be taken is tried again.
        if (!wanted_ && wanted == lastTaken_ && wanted == held_) return;
        wanted_ = wanted;
    }
    wantedChanged_.notify_one();
}

void SleepGuard::applyUpdates(std::stop_token stop) {
    for (;;) {
        bool holding = false;
        {
            std::unique_lock guard(wantedLock_);
            if (!wantedChanged_.wait(guard, stop, [this] { return wanted_.has_value(); })) return;
            holding = *wanted_;
            lastTaken_ = holding;
            wanted_.reset();
        }
        if (holding)
            hold();
        else
            release();
    }
}

}  // namespace kx
