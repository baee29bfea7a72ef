#include "agent/power/ShutdownMethods.h"

#include "protocol/Params.h"
#include "protocol/WireError.h"

namespace kx {

namespace {
constexpr bool kRequiresAuth = true;
}

void ShutdownMethods::registerOn(CommandRouter& router) const {
    router.registerMethod("system.shutdown", Capability::systemShutdown, kRequiresAuth,
                          [methods = *this](const JSONObject& params, const RequestContext& context) {
                              return methods.handleShutdown(params, context);
                          });
}

JSONObject ShutdownMethods::handleShutdown(const JSONObject& params, const RequestContext& context) const {
    const auto text = params::string(params, "action");
    const auto action = text ? shutdownActionFromRaw(*text) : std::nullopt;
    if (!action) throw WireError::invalidParams("action must be shutdown or restart");

    std::optional<std::string> name = deviceName ? deviceName(context.deviceID) : std::nullopt;
    if (!name || name->empty()) name = std::string(fallbackDeviceName);

    try {
        countdown->start(*action, std::move(*name));
    } catch (const ShutdownCountdown::StartError&) {
        throw WireError(ErrorCode::busy, "A shutdown is already counting down");
    }
    return JSONObject{{"delaySeconds", countdown->seconds()}};
}

void registerShutdownMethods(CommandRouter& router, std::shared_ptr<ShutdownCountdown> countdown,
                             DeviceNameLookup deviceName) {
    ShutdownMethods{std::move(countdown), std::move(deviceName)}.registerOn(router);
}

}  // namespace kx
