#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agent/apps/FrontmostSource.h"
#include "agent/system/SystemPorts.h"
#include "protocol/JSONValue.h"

namespace kx {

// Volume, mute, brightness, media keys, lock and sleep of this computer, and the watches on audio
// and frontmost-application changes that become the agent's events. Operations throw WireError
// with the texts the phone shows.
class SystemController : public std::enable_shared_from_this<SystemController> {
public:
    SystemController(SystemPorts ports, std::shared_ptr<FrontmostSource> frontmost);
    ~SystemController();
    SystemController(const SystemController&) = delete;
    SystemController& operator=(const SystemController&) = delete;

    const SystemPorts& ports() const { return ports_; }

    float volume();
    bool isMuted();
    float setVolume(float level);
    bool setMuted(bool on);
    // One step up when delta is at least 1, otherwise one step down.
    void stepBrightness(double delta);
    // "playpause", "next", "prev" or "previous", to the player playing, else the one changed last.
    void media(const std::string& action);
    // "lock", "sleep" or "displaysleep".
    void power(const std::string& action);
    // {"bundleId", "name"} of the frontmost application, as the state and its event carry it; none
    // when no application is frontmost.
    std::optional<JSONObject> frontmostJSON();

    // "volume" when it can be read, "muted" when there is an output: what the audio event carries.
    JSONObject audioState();
    // The audio state and "frontmost" when an application is frontmost.
    JSONObject snapshot();

    // Set before observing starts; called on the ports' own threads.
    void setOnAudioChange(std::function<void()> callback);
    void setOnFrontmostChange(std::function<void()> callback);
    // Both are idempotent; nothing is observed without the port.
    void startObservingAudio();
    void startObservingFrontmost();
    // Ends both watches and waits for their callbacks; idempotent. Call it from a thread of one's own
    // (not from a callback) before the last reference goes, so no port ever waits for itself.
    void stopObserving();

private:
    // Calls the callback that member holds; the lock is not held during the call.
    void notify(std::function<void()> SystemController::*callback);

    SystemPorts ports_;
    std::shared_ptr<FrontmostSource> frontmost_;
    std::mutex lock_;
    std::function<void()> onAudioChange_;
    std::function<void()> onFrontmostChange_;
    bool observingAudio_ = false;
    bool observingFrontmost_ = false;
};

}  // namespace kx
