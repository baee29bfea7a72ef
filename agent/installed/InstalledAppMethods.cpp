#include "agent/installed/InstalledAppMethods.h"

#include <set>

#include "protocol/Params.h"
#include "protocol/WireError.h"

namespace kx {

namespace {

constexpr bool kRequiresAuth = true;

// A missing, non-string or empty appId is refused alike.
std::string requiredAppID(const JSONObject& params) {
    auto appID = params::string(params, "appId");
    if (!appID || appID->empty()) throw WireError::invalidParams("appId is required");
    return *appID;
}

}  // namespace

InstalledAppMethods::InstalledAppMethods(InstalledAppScanner scanner, std::shared_ptr<AppLaunching> launcher,
                                         RunningAppIDs running, std::shared_ptr<IconCache> icons,
                                         std::shared_ptr<LastScan> lastScan)
    : scanner_(std::move(scanner)),
      launcher_(std::move(launcher)),
      running_(std::move(running)),
      icons_(std::move(icons)),
      lastScan_(std::move(lastScan)) {}

JSONObject InstalledAppMethods::installed() {
    // Taken before the scan, so that an application launched meanwhile is listed as not running yet.
    std::set<std::string> running;
    if (running_)
        for (auto& id : running_()) running.insert(std::move(id));
    auto apps = scanner_.scan();
    lastScan_->replace(apps);

    JSONArray list;
    list.reserve(apps.size());
    for (const auto& app : apps)
        list.emplace_back(
            JSONObject{{"appId", app.bundleID}, {"name", app.name}, {"running", running.contains(app.bundleID)}});
    return JSONObject{{"apps", std::move(list)}};
}

std::optional<InstalledApp> InstalledAppMethods::find(const std::string& appID) {
    if (auto known = lastScan_->find(appID)) return known;
    lastScan_->replace(scanner_.scan());
    return lastScan_->find(appID);
}

std::optional<std::string> InstalledAppMethods::icon(const std::string& appID) {
    auto app = find(appID);
    return app ? icons_->icon(*app) : std::nullopt;
}

void InstalledAppMethods::launch(const std::string& appID) {
    auto app = find(appID);
    if (!app) throw WireError(ErrorCode::targetNotFound, "That app is not installed");
    if (!open(*app)) throw WireError(ErrorCode::internal, "Could not open that app");
}

bool InstalledAppMethods::open(const InstalledApp& app) const {
    return launcher_ && launcher_->open(app.url);
}

void registerInstalledAppMethods(CommandRouter& router, std::shared_ptr<InstalledAppMethods> methods) {
    const auto& capability = Capability::systemAppsLaunch;
    router.registerMethod("system.apps.installed", capability, kRequiresAuth,
                          [methods](const JSONObject&, const RequestContext&) { return methods->installed(); });
    router.registerMethod("system.apps.icon", capability, kRequiresAuth,
                          [methods](const JSONObject& params, const RequestContext&) {
                              auto icon = methods->icon(requiredAppID(params));
                              return JSONObject{{"icon", icon ? JSONValue(*icon) : JSONValue(nullptr)}};
                          });
    router.registerMethod("system.apps.launch", capability, kRequiresAuth,
                          [methods](const JSONObject& params, const RequestContext&) {
                              methods->launch(requiredAppID(params));
                              return JSONObject{{"ok", true}};
                          });
}

}  // namespace kx
