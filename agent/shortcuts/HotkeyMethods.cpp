#include "agent/shortcuts/HotkeyMethods.h"

#include "agent/control/InputMethods.h"
#include "protocol/Params.h"

namespace kx {

void registerHotkeyMethods(CommandRouter& router, std::shared_ptr<HotkeyController> hotkeys, bool offerXcode) {
    const std::optional<Capability> xcode = offerXcode ? std::optional(Capability::appXcode) : std::nullopt;
    router.registerMethod(
        "app.xcode.action", xcode, true,
        [hotkeys](const JSONObject& p, const RequestContext&) {
            hotkeys->xcode(params::requiredString(p, "action"));
            return JSONObject{};
        },
        inputTarget);
    router.registerMethod("app.xcode.status", xcode, true, [hotkeys](const JSONObject&, const RequestContext&) {
        auto [state, message] = hotkeys->xcodeStatus();
        return JSONObject{{"state", state}, {"message", message}};
    });
    router.registerMethod(
        "app.slack.action", Capability::appSlack, true,
        [hotkeys](const JSONObject& p, const RequestContext&) {
            hotkeys->slack(params::requiredString(p, "action"));
            return JSONObject{};
        },
        inputTarget);
    if (!offerXcode) router.registerHint(Capability::appXcode, {"Xcode does not run on this computer.", std::nullopt});
}

}  // namespace kx
