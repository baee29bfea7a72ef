#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/apps/InstalledApp.h"
#include "agent/control/InputMutex.h"
#include "agent/control/KeyChord.h"

namespace kx {

// Sends a keyboard shortcut to a chosen application: brings it to the front (launching it when it
// is installed but not running), waits until it really is frontmost, and only then posts the
// chord, all while holding the input mutex so that no pointer or text input lands in between.
// The focus stays with the application afterwards.
class ShortcutSender {
public:
    struct Dependencies {
        // The installed applications, read afresh on every send.
        std::function<std::vector<InstalledApp>()> installedApps;
        // Identifiers of the running regular applications.
        std::function<std::vector<std::string>()> running;
        std::function<bool(const InstalledApp&)> launch;
        std::function<bool(const std::string& bundleID)> activate;
        std::function<std::optional<std::string>()> frontmost;
        // Presses and releases the chord.
        std::function<void(const KeyChord&)> post;
        std::function<void(double seconds)> sleep;
        std::function<bool()> mayInjectInput;
        std::shared_ptr<InputMutex> mutex;
        double timeout = 3.0;   // seconds to wait for the application to come to the front
        double interval = 0.1;  // seconds between looks at the frontmost application
    };

    // Pause between seeing the application in front and posting, so that it has taken the focus.
    static constexpr double settle = 0.03;

    explicit ShortcutSender(Dependencies dependencies);

    // Throws WireError: the chord's (ShortcutChord), target_not_found "That app is not installed",
    // permission_denied "Accessibility not granted", target_not_ready "That app didn't come to the
    // front, so the shortcut wasn't sent", internal "Could not open that app". Posts nothing when
    // it throws.
    void send(const std::string& appID, const std::string& chord) const;

private:
    void bringForward(const std::string& appID, bool isRunning, const std::optional<InstalledApp>& installed) const;

    Dependencies d_;
};

}  // namespace kx
