#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>

namespace kx {

// Lets one log line through per interval and counts the ones held back meanwhile, for events that
// an outsider can cause as often as they like. Safe from any thread.
class LogThrottle {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds defaultInterval{1};

    explicit LogThrottle(
        std::chrono::steady_clock::duration interval = defaultInterval,
        Clock now = [] { return std::chrono::steady_clock::now(); });

    // When a line may be written now: the number of lines held back since the last one (0 or more).
    std::optional<std::size_t> admit();

private:
    const std::chrono::steady_clock::duration interval_;
    const Clock now_;
    std::mutex lock_;
    std::optional<std::chrono::steady_clock::time_point> last_;
    std::size_t held_ = 0;
};

}  // namespace kx
