#include "agent/shortcuts/ShortcutMethods.h"

#include "agent/control/InputMethods.h"
#include "protocol/Params.h"

namespace kx {

void registerShortcutMethods(CommandRouter& router, std::shared_ptr<ShortcutSender> sender) {
    router.registerMethod(
        "app.shortcut", Capability::appShortcuts, true,
        [sender](const JSONObject& p, const RequestContext&) {
            auto appID = params::string(p, "appId");
            if (!appID || appID->empty()) throw WireError::invalidParams("appId is required");
            sender->send(*appID, params::requiredString(p, "chord"));
            return JSONObject{};
        },
        inputTarget);
}

}  // namespace kx
