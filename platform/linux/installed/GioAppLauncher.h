#pragma once

#include <chrono>

#include "agent/installed/AppLaunching.h"

namespace kx {

// Launches a desktop entry (by its file) through GIO with no files. GIO runs the program through an
// intermediate process that it reaps, so the program is not our child and never our zombie; its
// input and output are /dev/null, so nothing waiting on the agent's output waits on it. An entry
// that GIO starts over D-Bus (DBusActivatable) needs the session bus.
class GioAppLauncher : public AppLaunching {
public:
    explicit GioAppLauncher(std::chrono::milliseconds wait = launchWait) : wait_(wait) {}
    bool open(const std::string& location) override;

    // Runs one launch of the desktop file at `location`; true when GIO reports success.
    static bool launchNow(const std::string& location);

private:
    std::chrono::milliseconds wait_;
};

}  // namespace kx
