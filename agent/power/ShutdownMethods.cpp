#include "agent/power/ShutdownMethods.h"

#include "protocol/Params.h"
#include "protocol/WireError.h"

namespace kx {

namespace {
constexpr bool kRequiresAuth = true;
constexpr std::string_view fallbackDeviceName = "your phone";

JSONObject handleShutdown(ShutdownCountdown& countdown, const DeviceNameLookup& deviceName, const JSONObject& params,
                          const RequestContext& context) {
    const auto text = params::string(params, "action");
    const auto action = text ? shutdownActionFromRaw(*text) : std::nullopt;
    if (!action) throw WireError::invalidParams("action must be shutdown or restart");

    std::optional<std::string> name = deviceName ? deviceName(context.deviceID) : std::nullopt;
    if (!name || name->empty()) name = std::string(fallbackDeviceName);

    try {
        countdown.start(*action, std::move(*name));
    } catch (const ShutdownCountdown::StartError&) {
        throw WireError(ErrorCode::busy, "A shutdown is already counting down");
    }
    return JSONObject{{"delaySeconds", countdown.seconds()}};
}
}  // namespace

void registerShutdownMethods(CommandRouter& router, std::shared_ptr<ShutdownCountdown> countdown,
                             DeviceNameLookup deviceName) {
    router.registerMethod("system.shutdown", Capability::systemShutdown, kRequiresAuth,
                          [countdown = std::move(countdown), deviceName = std::move(deviceName)](
                              const JSONObject& params, const RequestContext& context) {
                              return handleShutdown(*countdown, deviceName, params, context);
                          });
}

}  // namespace kx
