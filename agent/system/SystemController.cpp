#include "agent/system/SystemController.h"

#include "agent/support/PlatformText.h"
#include "agent/support/UTF8.h"
#include "agent/system/NowPlayingController.h"
#include "protocol/WireError.h"

namespace kx {

namespace {

WireError notAvailable() {
    return {ErrorCode::unsupported, "Not available on this system"};
}

WireError noOutput() {
    return {ErrorCode::targetNotFound, "No output device"};
}

AudioOutput& audioPort(const SystemPorts& ports) {
    if (!ports.audio) throw notAvailable();
    return *ports.audio;
}

void requireWritten(AudioWrite result, const char* refusal) {
    if (result == AudioWrite::noOutput) throw noOutput();
    if (result == AudioWrite::failed) throw WireError(ErrorCode::unsupported, refusal);
}

std::optional<MediaCommand> mediaCommand(const std::string& action) {
    if (action == "playpause") return MediaCommand::playPause;
    if (action == "next") return MediaCommand::next;
    if (action == "prev" || action == "previous") return MediaCommand::previous;
    return std::nullopt;
}

std::optional<PowerTools::Action> powerAction(const std::string& action) {
    if (action == "lock") return PowerTools::Action::lock;
    if (action == "sleep") return PowerTools::Action::sleep;
    if (action == "displaysleep") return PowerTools::Action::displaySleep;
    return std::nullopt;
}

}  // namespace

SystemController::SystemController(SystemPorts ports, std::shared_ptr<FrontmostSource> frontmost)
    : ports_(std::move(ports)), frontmost_(std::move(frontmost)) {}

SystemController::~SystemController() {
    // The ports call back into this object until they have stopped.
    stopObserving();
}

void SystemController::stopObserving() {
    bool audio = false;
    bool frontmost = false;
    {
        std::lock_guard guard(lock_);
        std::swap(audio, observingAudio_);
        std::swap(frontmost, observingFrontmost_);
    }
    if (audio) ports_.audio->stopObserving();
    if (frontmost) frontmost_->stopObserving();
}

float SystemController::volume() {
    AudioReading reading = audioPort(ports_).read();
    if (!reading.hasOutput) throw noOutput();
    if (!reading.volume) throw WireError(ErrorCode::unsupported, "Device has no master volume");
    return *reading.volume;
}

bool SystemController::isMuted() {
    AudioReading reading = audioPort(ports_).read();
    if (!reading.hasOutput) throw noOutput();
    return reading.muted.value_or(false);
}

float SystemController::setVolume(float level) {
    if (!(level >= 0 && level <= 1)) throw WireError::invalidParams("level must be 0...1");
    requireWritten(audioPort(ports_).setVolume(level), "Device volume is not settable");
    return level;
}

bool SystemController::setMuted(bool on) {
    requireWritten(audioPort(ports_).setMuted(on), "Device mute is not settable");
    return on;
}

void SystemController::stepBrightness(double delta) {
    // Truncated toward zero, anything from 1 up is one step up; the size is never used.
    if (!ports_.brightness || !ports_.brightness->step(delta >= 1)) throw notAvailable();
}

void SystemController::media(const std::string& action) {
    auto command = mediaCommand(action);
    if (!command) throw WireError::invalidParams("Unknown media action");
    if (!ports_.players) throw notAvailable();
    // The player playing, else the one the person touched last: the one a media key would reach.
    auto players = NowPlayingController::byPreference(ports_.players->players());
    if (players.empty() || !ports_.players->send(players.front().id, *command))
        throw WireError(ErrorCode::targetNotFound, "No media player is running");
}

void SystemController::power(const std::string& action) {
    auto which = powerAction(action);
    if (!which) throw WireError::invalidParams("Unknown power action");
    PowerResult result = ports_.power ? ports_.power->perform(*which) : PowerResult::unavailable;
    if (result == PowerResult::done) return;
    if (*which == PowerTools::Action::lock)
        throw WireError(ErrorCode::unsupported, PlatformText::screenLockUnavailable);
    if (result == PowerResult::unavailable) throw notAvailable();
    throw WireError(ErrorCode::internal, "Could not perform power action");
}

std::optional<JSONObject> SystemController::frontmostJSON() {
    auto app = frontmost_ ? frontmost_->frontmost() : std::nullopt;
    if (!app) return std::nullopt;
    return JSONObject{{"bundleId", repairUTF8(app->bundleID)}, {"name", repairUTF8(app->name)}};
}

JSONObject SystemController::audioState() {
    JSONObject state;
    if (!ports_.audio) return state;
    AudioReading reading = ports_.audio->read();
    if (!reading.hasOutput) return state;
    if (reading.volume) state.emplace("volume", static_cast<double>(*reading.volume));
    state.emplace("muted", reading.muted.value_or(false));
    return state;
}

JSONObject SystemController::snapshot() {
    JSONObject state = audioState();
    if (auto app = frontmostJSON()) state.emplace("frontmost", std::move(*app));
    return state;
}

void SystemController::setOnAudioChange(std::function<void()> callback) {
    std::lock_guard guard(lock_);
    onAudioChange_ = std::move(callback);
}

void SystemController::setOnFrontmostChange(std::function<void()> callback) {
    std::lock_guard guard(lock_);
    onFrontmostChange_ = std::move(callback);
}

void SystemController::startObservingAudio() {
    {
        std::lock_guard guard(lock_);
        if (observingAudio_ || !ports_.audio) return;
        observingAudio_ = true;
    }
    // `this` outlives the watch: the destructor stops it first.
    ports_.audio->startObserving([this] { notify(&SystemController::onAudioChange_); });
}

void SystemController::startObservingFrontmost() {
    {
        std::lock_guard guard(lock_);
        if (observingFrontmost_ || !frontmost_) return;
        observingFrontmost_ = true;
    }
    frontmost_->startObserving([this] { notify(&SystemController::onFrontmostChange_); });
}

void SystemController::notify(std::function<void()> SystemController::*callback) {
    std::function<void()> call;
    {
        std::lock_guard guard(lock_);
        call = this->*callback;
    }
    if (call) call();
}

}  // namespace kx
