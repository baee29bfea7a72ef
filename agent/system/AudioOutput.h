#pragma once

#include <functional>
#include <optional>

namespace kx {

// What can be read of the default output: nothing at all when there is none.
struct AudioReading {
    bool hasOutput = false;
    std::optional<float> volume;  // 0 to 1; absent when the output has no main volume
    std::optional<bool> muted;    // absent when the mute state cannot be read
};

// The outcome of changing the default output.
enum class AudioWrite { done, noOutput, failed };

// The default audio output's volume and mute, and a watch on their changes.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Whether a sound server answers on this computer (decides whether volume is offered).
    virtual bool available() = 0;
    virtual AudioReading read() = 0;
    virtual AudioWrite setVolume(float level) = 0;
    virtual AudioWrite setMuted(bool on) = 0;
    // Calls onChange, from a thread of the output's own, after the volume or mute state of the
    // default output changed, also when another output became the default. Calling it again
    // replaces the callback.
    virtual void startObserving(std::function<void()> onChange) = 0;
    // After it returns, onChange is not called again.
    virtual void stopObserving() = 0;
};

}  // namespace kx
