#include "platform/linux/system/PulseAudioOutput.h"

#include <algorithm>

#include "agent/support/Log.h"

namespace kx {

namespace {

constexpr const char* kClientName = "Kestrix";
// The server resolves this name to whatever sink is the default at the time of the request.
constexpr const char* kDefaultSink = "@DEFAULT_SINK@";

template <typename Duration>
pa_usec_t microseconds(Duration duration) {
    return static_cast<pa_usec_t>(std::chrono::duration_cast<std::chrono::microseconds>(duration).count());
}

// A time event on the loop's own API, due `delay` from now.
pa_time_event* timer(pa_threaded_mainloop* loop, pa_usec_t delay, pa_time_event_cb_t callback, void* data) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    timeval due{};
    pa_gettimeofday(&due);
    pa_timeval_add(&due, delay);
    return api->time_new(api, &due, callback, data);
}

void freeTimer(pa_threaded_mainloop* loop, pa_time_event* event) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    api->time_free(event);
}

// Waits on the locked loop until `done` holds or the limit has passed. Whatever `done` looks at
// must signal the loop when it changes.
template <typename Done>
void waitUntil(pa_threaded_mainloop* loop, pa_usec_t limit, Done done) {
    struct Wake {
        pa_threaded_mainloop* loop;
        bool timedOut = false;
    } wake{loop};
    pa_time_event* deadline = timer(
        loop, limit,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
            auto* wake = static_cast<Wake*>(data);
            wake->timedOut = true;
            pa_threaded_mainloop_signal(wake->loop, 0);
        },
        &wake);
    while (!done() && !wake.timedOut) pa_threaded_mainloop_wait(loop);
    freeTimer(loop, deadline);
}

}  // namespace

struct PulseAudioOutput::SinkState {
    std::uint32_t index = 0;
    pa_cvolume volume{};
    bool muted = false;
    std::string name;
};

PulseAudioOutput::PulseAudioOutput(std::optional<std::string> server)
    : server_(std::move(server)), loop_(pa_threaded_mainloop_new()) {
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    connect();
    if (pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_unlock(loop_);
        log::error("could not start the audio client's loop");
        return;
    }
    // Wait for the first connection attempt to end either way, within the limit.
    waitUntil(loop_, microseconds(connectTimeout), [this] {
        if (!context_) return true;
        auto state = pa_context_get_state(context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    pa_threaded_mainloop_unlock(loop_);
}

PulseAudioOutput::~PulseAudioOutput() {
    notifier_.setCallback(nullptr);
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    if (reconnect_) freeTimer(loop_, reconnect_);
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void PulseAudioOutput::connect() {
    reconnect_ = nullptr;
    ready_ = false;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), kClientName);
    if (!context_) return scheduleReconnect();
    pa_context_set_state_callback(context_, onContextState, this);
    // Never start a server: a missing one means no sound server on this computer, not ours to run.
    // A refusal on the spot may already have failed the context through onContextState.
    if (pa_context_connect(context_, server_ ? server_->c_str() : nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 &&
        context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_unref(context_);
        context_ = nullptr;
        scheduleReconnect();
    }
}

void PulseAudioOutput::scheduleReconnect() {
    if (reconnect_) return;
    reconnect_ = timer(
        loop_, microseconds(reconnectDelay),
        [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
            api->time_free(event);
            static_cast<PulseAudioOutput*>(data)->connect();
        },
        this);
}

void PulseAudioOutput::onContextState(pa_context* context, void* data) {
    auto* self = static_cast<PulseAudioOutput*>(data);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            self->ready_ = true;
            pa_context_set_subscribe_callback(context, onEvent, self);
            auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
            if (pa_operation* subscribing = pa_context_subscribe(context, mask, nullptr, nullptr))
                pa_operation_unref(subscribing);
            self->refresh();
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            // The server went away (or never came): drop this client and try again later.
            self->ready_ = false;
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            pa_context_unref(context);
            self->context_ = nullptr;
            self->scheduleReconnect();
            break;
        default: break;
    }
    // Wakes whoever waits for the connection or for an operation the failure cancelled.
    pa_threaded_mainloop_signal(self->loop_, 0);
}

void PulseAudioOutput::onEvent(pa_context*, pa_subscription_event_type_t facility, std::uint32_t, void* data) {
    int which = facility & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (which == PA_SUBSCRIPTION_EVENT_SINK || which == PA_SUBSCRIPTION_EVENT_SERVER)
        static_cast<PulseAudioOutput*>(data)->refresh();
}

void PulseAudioOutput::refresh() {
    // Asynchronous: this runs on the loop's own thread, which must never wait for itself.
    if (pa_operation* reading = pa_context_get_sink_info_by_name(context_, kDefaultSink, onRefreshedSink, this))
        pa_operation_unref(reading);
}

void PulseAudioOutput::onRefreshedSink(pa_context*, const pa_sink_info* info, int eol, void* data) {
    auto* self = static_cast<PulseAudioOutput*>(data);
    if (eol > 0) return;
    std::optional<Fingerprint> now;
    if (info) now = Fingerprint{info->index, pa_cvolume_max(&info->volume), info->mute};
    // Sink events come for much more than volume and mute (a stream starting, say): only a change
    // of what the phone sees is news. The first reading of a connection is news only when it
    // differs from what was seen before the server went away.
    const bool news = self->seenOnce_ && now != self->lastSeen_;
    self->seenOnce_ = true;
    self->lastSeen_ = now;
    if (news) self->notifier_.signal();
}

bool PulseAudioOutput::await(pa_operation* operation) {
    if (!operation) return false;
    waitUntil(loop_, microseconds(operationTimeout),
              [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    // A cancelled operation never calls back, so the caller's stack stays its own.
    if (!done) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return done;
}

std::optional<PulseAudioOutput::SinkState> PulseAudioOutput::defaultSink() {
    struct Query {
        pa_threaded_mainloop* loop;
        std::optional<SinkState> sink;
    } query{loop_, std::nullopt};
    if (!ready_ || !context_) return std::nullopt;
    auto* operation = pa_context_get_sink_info_by_name(
        context_, kDefaultSink,
        [](pa_context*, const pa_sink_info* info, int, void* data) {
            auto* query = static_cast<Query*>(data);
            if (info) query->sink = SinkState{info->index, info->volume, info->mute != 0, info->name ? info->name : ""};
            pa_threaded_mainloop_signal(query->loop, 0);
        },
        &query);
    if (!await(operation)) return std::nullopt;
    return query.sink;
}

bool PulseAudioOutput::available() {
    if (!loop_) return false;
    pa_threaded_mainloop_lock(loop_);
    bool ready = ready_;
    pa_threaded_mainloop_unlock(loop_);
    return ready;
}

AudioReading PulseAudioOutput::read() {
    if (!loop_ || pa_threaded_mainloop_in_thread(loop_)) return {};
    pa_threaded_mainloop_lock(loop_);
    auto sink = defaultSink();
    pa_threaded_mainloop_unlock(loop_);
    if (!sink) return {};
    // Above 100% counts as full: the phone's scale ends at 1.
    float level = static_cast<float>(pa_cvolume_max(&sink->volume)) / static_cast<float>(PA_VOLUME_NORM);
    return {true, std::min(level, 1.0f), sink->muted};
}

namespace {
struct Outcome {
    pa_threaded_mainloop* loop;
    bool succeeded = false;
};
void onSuccess(pa_context*, int success, void* data) {
    auto* outcome = static_cast<Outcome*>(data);
    outcome->succeeded = success != 0;
    pa_threaded_mainloop_signal(outcome->loop, 0);
}
}  // namespace

AudioWrite PulseAudioOutput::setVolume(float level) {
    if (!loop_ || pa_threaded_mainloop_in_thread(loop_)) return AudioWrite::failed;
    pa_threaded_mainloop_lock(loop_);
    AudioWrite result = AudioWrite::noOutput;
    if (auto sink = defaultSink()) {
        // Scaled as a whole, so the balance between the channels stays as the person set it.
        pa_cvolume volume = sink->volume;
        pa_cvolume_scale(&volume, static_cast<pa_volume_t>(level * PA_VOLUME_NORM + 0.5f));
        Outcome outcome{loop_};
        bool done = await(pa_context_set_sink_volume_by_index(context_, sink->index, &volume, onSuccess, &outcome));
        result = done && outcome.succeeded ? AudioWrite::done : AudioWrite::failed;
    }
    pa_threaded_mainloop_unlock(loop_);
    return result;
}

AudioWrite PulseAudioOutput::setMuted(bool on) {
    if (!loop_ || pa_threaded_mainloop_in_thread(loop_)) return AudioWrite::failed;
    pa_threaded_mainloop_lock(loop_);
    AudioWrite result = AudioWrite::noOutput;
    if (auto sink = defaultSink()) {
        Outcome outcome{loop_};
        bool done = await(pa_context_set_sink_mute_by_index(context_, sink->index, on, onSuccess, &outcome));
        result = done && outcome.succeeded ? AudioWrite::done : AudioWrite::failed;
    }
    pa_threaded_mainloop_unlock(loop_);
    return result;
}

void PulseAudioOutput::startObserving(std::function<void()> onChange) {
    notifier_.setCallback(std::move(onChange));
}

void PulseAudioOutput::stopObserving() {
    notifier_.setCallback(nullptr);
}

}  // namespace kx
