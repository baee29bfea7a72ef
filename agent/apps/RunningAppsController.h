#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent/apps/IconPixels.h"
#include "agent/apps/RunningApp.h"
#include "agent/apps/Workspace.h"

namespace kx {

// The application operations behind "app.*" and "system.apps.*": the running applications a user
// switches between, bringing one to the front, asking one to quit, and their icons.
class RunningAppsController {
public:
    // Base64 of a 48 x 48 PNG for an installed application's identifier; none when it has no entry
    // or no icon.
    using EntryIcon = std::function<std::optional<std::string>(const std::string& bundleID)>;
    // Base64 of a 48 x 48 PNG made from a window's own icon pixels.
    using IconEncoder = std::function<std::optional<std::string>(const IconPixels&)>;

    struct Options {
        // Identifiers never quit from here (the agent and the desktop's own parts); applications
        // the workspace marks essential are refused as well.
        std::set<std::string> unquittable;
        EntryIcon entryIcon;           // null: installed applications have no icons
        IconEncoder encodeWindowIcon;  // null: applications without an entry have no icons
    };

    RunningAppsController(std::shared_ptr<Workspace> workspace, Options options);

    // The regular applications, in the workspace's order.
    std::vector<RunningApp> runningApps() const;
    // Their identifiers, in the same order.
    std::vector<std::string> runningAppIDs() const;
    // False when no application (regular or not) with that identifier runs or it refused.
    bool activate(const std::string& bundleID) const;
    // Throws WireError: invalid_params "That app cannot be quit from here" for an unquittable
    // application, target_not_found "That app is not running" when none runs. Returns whether the
    // polite request to close could be made.
    bool quit(const std::string& bundleID) const;
    bool isQuittable(const RunningApp& app) const;
    // The installed application's icon, else the one its windows carry; none when neither exists.
    std::optional<std::string> icon(const std::string& bundleID) const;
    std::optional<FrontmostApp> frontmost() const;

private:
    std::shared_ptr<Workspace> workspace_;
    Options options_;
};

}  // namespace kx
