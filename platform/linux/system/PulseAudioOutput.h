#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include <pulse/pulseaudio.h>

#include "agent/system/AudioOutput.h"
#include "platform/linux/system/ChangeNotifier.h"

namespace kx {

// The default sink of the PulseAudio server (or PipeWire's pulse server) of the session. A client
// of its own on a threaded main loop: it never starts a server, reconnects after the server went
// away, and watches sink and server events, so a change of the default sink counts as a change.
class PulseAudioOutput : public AudioOutput {
public:
    static constexpr auto connectTimeout = std::chrono::seconds(2);
    static constexpr auto operationTimeout = std::chrono::seconds(2);
    static constexpr auto reconnectDelay = std::chrono::seconds(1);

    // Waits up to connectTimeout for the server (the session's own unless one is named, e.g.
    // "unix:/run/user/1000/pulse/native"); without one it keeps trying in the background.
    explicit PulseAudioOutput(std::optional<std::string> server = std::nullopt);
    ~PulseAudioOutput() override;
    PulseAudioOutput(const PulseAudioOutput&) = delete;
    PulseAudioOutput& operator=(const PulseAudioOutput&) = delete;

    bool available() override;
    AudioReading read() override;
    AudioWrite setVolume(float level) override;
    AudioWrite setMuted(bool on) override;
    void startObserving(std::function<void()> onChange) override;
    void stopObserving() override;

private:
    struct SinkState;
    // What a change is compared by: the sink, its loudest channel and its mute switch.
    using Fingerprint = std::tuple<std::uint32_t, std::uint32_t, int>;

    // All below run with the main loop locked.
    void connect();
    void scheduleReconnect();
    bool await(pa_operation* operation);
    std::optional<SinkState> defaultSink();
    void refresh();

    static void onContextState(pa_context* context, void* self);
    static void onEvent(pa_context* context, pa_subscription_event_type_t facility, std::uint32_t index, void* self);
    static void onRefreshedSink(pa_context* context, const pa_sink_info* info, int eol, void* self);

    const std::optional<std::string> server_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* reconnect_ = nullptr;
    bool ready_ = false;
    bool seenOnce_ = false;
    std::optional<Fingerprint> lastSeen_;
    ChangeNotifier notifier_;
};

}  // namespace kx
