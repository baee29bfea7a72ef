#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agent/apps/InstalledApp.h"
#include "agent/apps/WindowFacts.h"

namespace kx {

// The one lookup from a window to its application's identifier and name. A window belongs to the
// first installed application that matches, trying in turn: its _GTK_APPLICATION_ID against the
// entry id; its WM_CLASS against the entry's StartupWMClass; its WM_CLASS against the entry id
// (ignoring case); the name of its program against the program the entry runs. A window that
// matches no entry is its own application, named after its WM_CLASS (class, else instance, else
// program name), the same for every window of that class and across restarts.
//
// The installed list is read through the given function and kept for `indexLifetime`, so that a
// desktop with many windows costs one read per refresh, not one per window. Safe from any thread.
class AppIdentity {
public:
    struct Result {
        std::string bundleID;
        std::string name;
        bool installed = false;  // matched an installed application
        bool operator==(const Result&) const = default;
    };

    using InstalledApps = std::function<std::vector<InstalledApp>()>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::seconds indexLifetime{5};

    explicit AppIdentity(InstalledApps installedApps, Clock clock = std::chrono::steady_clock::now);

    // None for a window that says nothing about itself (no WM_CLASS and no program).
    std::optional<Result> identify(const WindowFacts& window);

private:
    struct Index {
        std::map<std::string, InstalledApp> byID;
        std::map<std::string, InstalledApp> byStartupClass;
        std::map<std::string, InstalledApp> byLowerID;
        std::map<std::string, InstalledApp> byExecutable;
    };

    std::shared_ptr<const Index> index();

    InstalledApps installedApps_;
    Clock clock_;
    std::mutex lock_;
    std::shared_ptr<const Index> index_;
    std::chrono::steady_clock::time_point builtAt_{};
};

}  // namespace kx
