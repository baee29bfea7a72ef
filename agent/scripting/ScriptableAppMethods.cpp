#include "agent/scripting/ScriptableAppMethods.h"

#include "agent/support/PlatformText.h"
#include "agent/transport/CommandRouter.h"
#include "protocol/Params.h"

namespace kx {

namespace {
constexpr bool kRequiresAuth = true;
}

void registerScriptableAppMethods(CommandRouter& router, std::shared_ptr<const ScriptableAppController> apps) {
    // No implementation here lists or switches browser tabs, so "app.chrome.tabs" is never offered.
    auto tabsUnsupported = [](const JSONObject&, const RequestContext&) -> JSONObject {
        throw WireError(ErrorCode::unsupported, PlatformText::browserTabsUnsupported);
    };
    for (const char* method : {"app.chrome.tabs.list", "app.chrome.tabs.activate", "app.chrome.tabs.close"})
        router.registerMethod(method, std::nullopt, kRequiresAuth, tabsUnsupported);
    const auto a = apps;
    router.registerMethod("app.chrome.open", std::nullopt, kRequiresAuth,
                          [a](const JSONObject& p, const RequestContext&) {
                              a->chromeOpen(params::requiredString(p, "url"));
                              return JSONObject{};
                          });
    router.registerHint(Capability::appChromeTabs, {PlatformText::browserTabsUnsupported, std::nullopt});

    const bool finderComplete = apps->readsFileSelection();
    const auto finder = finderComplete ? std::optional(Capability::appFinder) : std::nullopt;
    router.registerMethod("app.finder.reveal", finder, kRequiresAuth, [a](const JSONObject& p, const RequestContext&) {
        a->finderReveal(params::requiredString(p, "path"));
        return JSONObject{};
    });
    router.registerMethod("app.finder.open", finder, kRequiresAuth, [a](const JSONObject& p, const RequestContext&) {
        a->finderOpen(params::requiredString(p, "path"));
        return JSONObject{};
    });
    router.registerMethod("app.finder.selection", finder, kRequiresAuth, [a](const JSONObject&, const RequestContext&) {
        JSONArray paths;
        for (auto& path : a->finderSelection()) paths.emplace_back(std::move(path));
        return JSONObject{{"paths", std::move(paths)}};
    });
    if (!finderComplete)
        router.registerHint(Capability::appFinder, {PlatformText::fileSelectionUnsupported, std::nullopt});
}

}  // namespace kx
