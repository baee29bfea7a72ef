#pragma once

#include <chrono>
#include <cstddef>

namespace kx {

// How much one session may hold of the agent's memory and time. A session over either of the
// first two limits is not read until it drains below them again.
struct SessionLimits {
    static constexpr std::size_t defaultMaxRequestsInFlight = 64;
    static constexpr std::size_t defaultMaxQueuedBytes = 4 * 1024 * 1024;
    static constexpr std::chrono::milliseconds defaultStallTimeout{30000};

    // Requests accepted from the session and not yet answered.
    std::size_t maxRequestsInFlight = defaultMaxRequestsInFlight;
    // Sealed bytes waiting for the peer to take them; events beyond this are dropped, answers never.
    std::size_t maxQueuedBytes = defaultMaxQueuedBytes;
    // A session whose peer takes none of its queued output for this long is closed.
    std::chrono::milliseconds stallTimeout = defaultStallTimeout;
};

}  // namespace kx
