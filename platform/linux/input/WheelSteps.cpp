#include "platform/linux/input/WheelSteps.h"

#include <algorithm>

namespace kx {

std::int64_t WheelSteps::add(std::int32_t pixels) {
    remainder_ += pixels;
    const std::int64_t steps = remainder_ / pixelsPerStep;  // truncates toward zero
    remainder_ -= steps * pixelsPerStep;
    if (steps > maxStepsPerEvent || steps < -maxStepsPerEvent) remainder_ = 0;
    return std::clamp(steps, -maxStepsPerEvent, maxStepsPerEvent);
}

}  // namespace kx
