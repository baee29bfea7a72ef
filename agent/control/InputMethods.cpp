#include "agent/control/InputMethods.h"

#include <cmath>
#include <limits>

#include "protocol/Params.h"

namespace kx {

namespace {

constexpr bool kRequiresAuth = true;

double numberOr(const JSONObject& p, const std::string& key, double fallback) {
    return params::number(p, key).value_or(fallback);
}

// Truncates toward zero; values beyond the 64-bit range saturate.
std::int64_t truncatedCount(double value) {
    constexpr double limit = 0x1p63;  // 2^63, the first double outside the signed range
    if (value >= limit) return std::numeric_limits<std::int64_t>::max();
    if (value < -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(std::trunc(value));
}

}  // namespace

void registerInputMethods(CommandRouter& router, std::shared_ptr<InputController> input) {
    auto in = std::move(input);
    router.registerMethod(
        "input.pointer.move", Capability::inputPointer, kRequiresAuth,
        [in](const JSONObject& p, const RequestContext&) {
            in->move(numberOr(p, "dx", 0), numberOr(p, "dy", 0));
            return JSONObject{};
        },
        inputTarget);
    router.registerMethod(
        "input.pointer.click", Capability::inputPointer, kRequiresAuth,
        [in](const JSONObject& p, const RequestContext&) {
            in->click(params::string(p, "button").value_or("left"), truncatedCount(numberOr(p, "count", 1)));
            return JSONObject{};
        },
        inputTarget);
    router.registerMethod(
        "input.pointer.scroll", Capability::inputPointer, kRequiresAuth,
        [in](const JSONObject& p, const RequestContext&) {
            in->scroll(numberOr(p, "dx", 0), numberOr(p, "dy", 0));
            return JSONObject{};
        },
        inputTarget);
    router.registerMethod(
        "input.pointer.drag", Capability::inputPointer, kRequiresAuth,
        [in](const JSONObject& p, const RequestContext& context) {
            in->drag(params::string(p, "phase").value_or("move"), numberOr(p, "dx", 0), numberOr(p, "dy", 0),
                     context.connectionID);
            return JSONObject{};
        },
        inputTarget);
    router.registerMethod(
        "input.key", Capability::inputKey, kRequiresAuth,
        [in](const JSONObject& p, const RequestContext&) {
            in->key(params::requiredString(p, "chord"));
            return JSONObject{};
        },
        inputTarget);
    router.registerMethod(
        "input.text", Capability::inputText, kRequiresAuth,
        [in](const JSONObject& p, const RequestContext&) {
            in->type(params::requiredString(p, "text"));
            return JSONObject{};
        },
        inputTarget);
    // A session that goes away mid-drag must not leave the button down for the person at the desk.
    router.addConnectionClosedObserver([in](std::uint64_t connectionID) { in->releaseHeldBy(connectionID); });
}

}  // namespace kx
