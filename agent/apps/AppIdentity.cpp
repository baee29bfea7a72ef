#include "agent/apps/AppIdentity.h"

#include "agent/support/ASCIILowercase.h"

namespace kx {

namespace {

AppIdentity::Result resultFor(const InstalledApp& app) {
    return {app.bundleID, app.name.empty() ? app.bundleID : app.name, true};
}

const InstalledApp* find(const std::map<std::string, InstalledApp>& map, const std::string& key) {
    if (key.empty()) return nullptr;
    auto found = map.find(key);
    return found == map.end() ? nullptr : &found->second;
}

}  // namespace

AppIdentity::AppIdentity(InstalledApps installedApps, Clock clock)
    : installedApps_(std::move(installedApps)), clock_(std::move(clock)) {}

std::shared_ptr<const AppIdentity::Index> AppIdentity::index() {
    const auto now = clock_();
    {
        std::lock_guard guard(lock_);
        if (index_ && now - builtAt_ < indexLifetime) return index_;
    }
    // Read outside the lock: the installed list may take a while, and two threads rebuilding at
    // once only cost a second read.
    auto fresh = std::make_shared<Index>();
    for (const auto& app : installedApps_ ? installedApps_() : std::vector<InstalledApp>{}) {
        if (app.bundleID.empty()) continue;
        // The first entry wins every key, in the installed list's order.
        fresh->byID.emplace(app.bundleID, app);
        if (!app.startupWMClass.empty()) fresh->byStartupClass.emplace(app.startupWMClass, app);
        fresh->byLowerID.emplace(asciiLowercase(app.bundleID), app);
        if (!app.executable.empty()) fresh->byExecutable.emplace(app.executable, app);
    }
    std::lock_guard guard(lock_);
    index_ = std::move(fresh);
    builtAt_ = now;
    return index_;
}

std::optional<AppIdentity::Result> AppIdentity::identify(const WindowFacts& window) {
    const auto entries = index();
    const InstalledApp* match = find(entries->byID, window.gtkApplicationID);
    for (const auto* wmClass : {&window.wmClassClass, &window.wmClassInstance}) {
        if (!match) match = find(entries->byStartupClass, *wmClass);
    }
    for (const auto* wmClass : {&window.wmClassClass, &window.wmClassInstance}) {
        if (!match) match = find(entries->byLowerID, asciiLowercase(*wmClass));
    }
    if (!match) match = find(entries->byExecutable, window.executable);
    if (match) return resultFor(*match);

    for (const auto* own : {&window.wmClassClass, &window.wmClassInstance, &window.executable}) {
        if (!own->empty()) return Result{*own, *own, false};
    }
    return std::nullopt;
}

}  // namespace kx
