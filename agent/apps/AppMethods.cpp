#include "agent/apps/AppMethods.h"

#include "agent/support/UTF8.h"
#include "protocol/Params.h"

namespace kx {

namespace {

constexpr bool kRequiresAuth = true;

JSONObject describe(const RunningApp& app) {
    return {{"bundleId", repairUTF8(app.bundleID)}, {"name", repairUTF8(app.name)}, {"active", app.active}};
}

// Icons in list order while the budget lasts: one that does not fit is left out (null) without
// stopping later, smaller ones; once the budget is spent no more are fetched.
JSONArray listWithIcons(const RunningAppsController& apps) {
    JSONArray list;
    std::size_t budget = appIconBudget;
    for (const auto& app : apps.runningApps()) {
        JSONObject entry = describe(app);
        entry.emplace("quittable", apps.isQuittable(app));
        JSONValue icon = nullptr;
        if (budget >= 1) {
            auto text = apps.icon(app.bundleID);
            if (text && text->size() <= budget) {
                budget -= text->size();
                icon = std::move(*text);
            }
        }
        entry.emplace("icon", std::move(icon));
        list.emplace_back(std::move(entry));
    }
    return list;
}

}  // namespace

void registerAppMethods(CommandRouter& router, std::shared_ptr<RunningAppsController> apps) {
    router.registerMethod("app.list", std::nullopt, kRequiresAuth, [apps](const JSONObject&, const RequestContext&) {
        JSONArray list;
        for (const auto& app : apps->runningApps()) list.emplace_back(describe(app));
        return JSONObject{{"apps", std::move(list)}};
    });
    router.registerMethod("app.activate", std::nullopt, kRequiresAuth,
                          [apps](const JSONObject& p, const RequestContext&) {
                              if (!apps->activate(params::requiredString(p, "bundleId")))
                                  throw WireError(ErrorCode::targetNotFound, "App is not running");
                              return JSONObject{};
                          });
    router.registerMethod("system.apps.list", Capability::systemApps, kRequiresAuth,
                          [apps](const JSONObject&, const RequestContext&) {
                              return JSONObject{{"apps", listWithIcons(*apps)}};
                          });
    router.registerMethod("system.apps.activate", Capability::systemApps, kRequiresAuth,
                          [apps](const JSONObject& p, const RequestContext&) {
                              return JSONObject{{"ok", apps->activate(params::requiredString(p, "bundleId"))}};
                          });
    router.registerMethod("system.apps.quit", Capability::systemApps, kRequiresAuth,
                          [apps](const JSONObject& p, const RequestContext&) {
                              return JSONObject{{"ok", apps->quit(params::requiredString(p, "bundleId"))}};
                          });
}

}  // namespace kx
