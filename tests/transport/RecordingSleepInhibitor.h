#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/transport/SleepInhibitor.h"

namespace kx {

// Test double of the system's power service: counts the inhibitions alive and records reasons.
class RecordingSleepInhibitor : public SleepInhibitor {
public:
    std::unique_ptr<SleepInhibition> inhibit(const std::string& reason) override {
        {
            std::lock_guard guard(lock_);
            reasons_.push_back(reason);
        }
        if (refuse) return nullptr;
        return std::make_unique<Held>(active);
    }

    std::vector<std::string> reasons() const {
        std::lock_guard guard(lock_);
        return reasons_;
    }

    std::atomic<int> active{0};
    std::atomic<bool> refuse{false};

private:
    struct Held : SleepInhibition {
        explicit Held(std::atomic<int>& counter) : counter_(counter) { ++counter_; }
        ~Held() override { --counter_; }
        std::atomic<int>& counter_;
    };
    mutable std::mutex lock_;
    std::vector<std::string> reasons_;
};

}  // namespace kx
