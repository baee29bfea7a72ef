#pragma once

namespace kx {

// The brightness of the built-in display, changed one step at a time.
class BrightnessControl {
public:
    virtual ~BrightnessControl() = default;
    // Whether this computer has a display brightness that can be changed.
    virtual bool available() = 0;
    // One step up or down; false when it could not be changed.
    virtual bool step(bool up) = 0;
};

}  // namespace kx
