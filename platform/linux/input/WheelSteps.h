#pragma once

#include <cstdint>

namespace kx {

// Turns pixel scroll deltas on one axis into whole wheel clicks. The part of a delta that does not
// make a whole click is carried into the next one, so that a slow scroll still moves.
class WheelSteps {
public:
    // One click of an X wheel scrolls about three lines in common toolkits.
    static constexpr int pixelsPerStep = 40;
    // A single event never turns into more clicks than this; the excess is dropped.
    static constexpr std::int64_t maxStepsPerEvent = 100;

    // Signed number of clicks for this delta, in the direction of its sign.
    std::int64_t add(std::int32_t pixels);

private:
    std::int64_t remainder_ = 0;
};

}  // namespace kx
