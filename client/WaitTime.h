#pragma once

#include <chrono>

namespace kx {

// Longest wait a user may ask of kxctl for a connection or an answer.
inline constexpr double maxWaitSeconds = 3600;

// `seconds` as a wait; throws ClientError unless it is a number above zero and at most maxWaitSeconds
// (a huge or infinite value would overflow the clock).
std::chrono::milliseconds waitFromSeconds(double seconds);

}  // namespace kx
