#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kx::e2e {

// Polls until the condition holds or the wait is over; returns the last result. For states that
// other threads reach on their own time (never for measuring speed).
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds wait = std::chrono::milliseconds(5000)) {
    auto deadline = std::chrono::steady_clock::now() + wait;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace kx::e2e
