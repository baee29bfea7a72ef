#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/apps/InstalledApp.h"
#include "agent/installed/AppLaunching.h"
#include "agent/installed/IconCache.h"
#include "agent/installed/InstalledAppScanner.h"
#include "agent/installed/LastScan.h"
#include "agent/transport/CommandRouter.h"

namespace kx {

// The identifiers of the running regular applications; empty when unknown.
using RunningAppIDs = std::function<std::vector<std::string>()>;

// Installed applications, their icons and launching them, for the phone and for the families that
// act on an application by its identifier. Safe from any thread.
class InstalledAppMethods {
public:
    InstalledAppMethods(InstalledAppScanner scanner, std::shared_ptr<AppLaunching> launcher, RunningAppIDs running,
                        std::shared_ptr<IconCache> icons, std::shared_ptr<LastScan> lastScan);

    // {"apps": [{"appId", "name", "running"}]} from a fresh scan, which becomes the last scan.
    JSONObject installed();
    // The application of the last scan with that identifier; on a miss, one rescan (which becomes
    // the last scan) is searched.
    std::optional<InstalledApp> find(const std::string& appID);
    // Icon text of the installed application with that identifier; none when it is unknown or has
    // no icon that can be drawn.
    std::optional<std::string> icon(const std::string& appID);
    // Throws WireError target_not_found "That app is not installed" or internal "Could not open
    // that app".
    void launch(const std::string& appID);
    // Opens the application; false when there is no launcher or it refused.
    bool open(const InstalledApp& app) const;

private:
    InstalledAppScanner scanner_;
    std::shared_ptr<AppLaunching> launcher_;
    RunningAppIDs running_;
    std::shared_ptr<IconCache> icons_;
    std::shared_ptr<LastScan> lastScan_;
};

// "system.apps.installed", "system.apps.icon" and "system.apps.launch" under the capability
// "system.apps.launch"; all need authentication.
void registerInstalledAppMethods(CommandRouter& router, std::shared_ptr<InstalledAppMethods> methods);

}  // namespace kx
