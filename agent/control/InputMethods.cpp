#include "agent/control/InputMethods.h"

#include <cmath>
#include <functional>
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
    using Action = std::function<void(InputController&, const JSONObject&, const RequestContext&)>;
    // Every input method answers {} once its events are posted, in the order the session sent them.
    auto add = [&router, &input](const char* method, const Capability& capability, Action action) {
        router.registerMethod(
            method, capability, kRequiresAuth,
            [in = input, action = std::move(action)](const JSONObject& p, const RequestContext& context) {
                action(*in, p, context);
                return JSONObject{};
            },
            inputTarget);
    };
    add("input.pointer.move", Capability::inputPointer,
        [](InputController& in, const JSONObject& p, auto&) { in.move(numberOr(p, "dx", 0), numberOr(p, "dy", 0)); });
    add("input.pointer.click", Capability::inputPointer, [](InputController& in, const JSONObject& p, auto&) {
        in.click(params::string(p, "button").value_or("left"), truncatedCount(numberOr(p, "count", 1)));
    });
    add("input.pointer.scroll", Capability::inputPointer,
        [](InputController& in, const JSONObject& p, auto&) { in.scroll(numberOr(p, "dx", 0), numberOr(p, "dy", 0)); });
    add("input.pointer.drag", Capability::inputPointer,
        [](InputController& in, const JSONObject& p, const RequestContext& context) {
            in.drag(params::string(p, "phase").value_or("move"), numberOr(p, "dx", 0), numberOr(p, "dy", 0),
                    context.connectionID);
        });
    add("input.key", Capability::inputKey,
        [](InputController& in, const JSONObject& p, auto&) { in.key(params::requiredString(p, "chord")); });
    add("input.text", Capability::inputText,
        [](InputController& in, const JSONObject& p, auto&) { in.type(params::requiredString(p, "text")); });
    // Moves and scrolls stream from a trackpad: each is tried on the transport queue first.
    using Attempt = bool (InputController::*)(double, double);
    auto addFastPath = [&router, &input](const char* method, Attempt attempt) {
        router.addFastPath(method, [in = input, attempt](const JSONObject& p, auto&) -> std::optional<JSONObject> {
            if (!((*in).*attempt)(numberOr(p, "dx", 0), numberOr(p, "dy", 0))) return std::nullopt;
            return JSONObject{};
        });
    };
    addFastPath("input.pointer.move", &InputController::tryMove);
    addFastPath("input.pointer.scroll", &InputController::tryScroll);
    // A session that goes away mid-drag must not leave the button down for the person at the desk.
    router.addConnectionClosedObserver([in = input](std::uint64_t connectionID) { in->releaseHeldBy(connectionID); });
}

}  // namespace kx
