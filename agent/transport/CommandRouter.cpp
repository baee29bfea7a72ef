#include "agent/transport/CommandRouter.h"

namespace kx {

void CommandRouter::registerMethod(const std::string& method, std::optional<Capability> capability, bool requiresAuth,
                                   MethodHandler handler) {
    std::lock_guard guard(lock_);
    handlers_[method] = std::move(handler);
    if (!requiresAuth) preAuthMethods_.insert(method);
    if (capability) capabilities_.insert(std::move(*capability));
}

void CommandRouter::registerHint(const Capability& capability, SetupHint hint) {
    std::lock_guard guard(lock_);
    hints_[capability] = std::move(hint);
}

std::set<Capability> CommandRouter::capabilities() const {
    std::lock_guard guard(lock_);
    return capabilities_;
}

JSONArray CommandRouter::capabilityStrings() const {
    JSONArray out;
    for (const auto& cap : capabilities()) out.emplace_back(cap.rawValue);  // std::set keeps them sorted
    return out;
}

std::map<Capability, SetupHint> CommandRouter::unavailable() const {
    std::lock_guard guard(lock_);
    std::map<Capability, SetupHint> out;
    for (const auto& [cap, hint] : hints_)
        if (!capabilities_.contains(cap)) out.emplace(cap, hint);
    return out;
}

std::optional<JSONValue> CommandRouter::unavailableWire() const {
    auto hints = unavailable();
    if (hints.empty()) return std::nullopt;
    JSONObject out;
    for (const auto& [cap, hint] : hints) out.emplace(cap.rawValue, hint.wireValue());
    return out;
}

Envelope CommandRouter::dispatch(const Envelope& request, const RequestContext& context) const {
    static const WireError malformed(ErrorCode::invalidParams, "Malformed request");
    if (!request.id) return Envelope::failure("?", malformed);
    const std::string& id = *request.id;
    if (!request.m) return Envelope::failure(id, malformed);

    MethodHandler handler;
    bool preAuth = false;
    {
        std::lock_guard guard(lock_);
        if (auto it = handlers_.find(*request.m); it != handlers_.end()) handler = it->second;
        preAuth = preAuthMethods_.contains(*request.m);
    }
    if (!handler) return Envelope::failure(id, {ErrorCode::unknownMethod, "No such method"});
    if (!preAuth && !context.isAuthenticated)
        return Envelope::failure(id, {ErrorCode::unauthorized, "Not authenticated"});

    try {
        return Envelope::success(id, handler(request.p.value_or(JSONObject{}), context));
    } catch (const WireError& error) {
        return Envelope::failure(id, error);
    } catch (...) {
        return Envelope::failure(id, WireError::internalError());
    }
}

}  // namespace kx
