#include "agent/support/LogThrottle.h"

#include <utility>

namespace kx {

LogThrottle::LogThrottle(std::chrono::steady_clock::duration interval, Clock now)
    : interval_(interval), now_(std::move(now)) {}

std::optional<std::size_t> LogThrottle::admit() {
    auto now = now_();
    std::lock_guard guard(lock_);
    if (last_ && now - *last_ < interval_) {
        ++held_;
        return std::nullopt;
    }
    last_ = now;
    return std::exchange(held_, 0);
}

}  // namespace kx
