#include "agent/transport/CommandRouter.h"

#include "protocol/Params.h"

namespace kx {

namespace {

// A handler's result, or the failure it threw: a WireError reaches the phone unchanged, anything
// else becomes "internal".
template <class Handler>
Envelope answerFrom(const std::string& id, Handler&& handler) {
    try {
        return Envelope::success(id, handler());
    } catch (const WireError& error) {
        return Envelope::failure(id, error);
    } catch (...) {
        return Envelope::failure(id, WireError::internalError());
    }
}

}  // namespace

void CommandRouter::registerMethod(const std::string& method, std::optional<Capability> capability, bool requiresAuth,
                                   MethodHandler handler, std::optional<OrderedTarget> target) {
    std::lock_guard guard(lock_);
    handlers_[method] = std::move(handler);
    if (!requiresAuth) preAuthMethods_.insert(method);
    immediate_.erase(method);
    fastPaths_.erase(method);
    if (target)
        targets_[method] = std::move(*target);
    else
        targets_.erase(method);
    if (capability) capabilities_.insert(std::move(*capability));
}

void CommandRouter::registerHint(const Capability& capability, SetupHint hint) {
    std::lock_guard guard(lock_);
    hints_[capability] = std::move(hint);
}

void CommandRouter::markImmediate(const std::string& method) {
    std::lock_guard guard(lock_);
    if (handlers_.contains(method) && !targets_.contains(method)) immediate_.insert(method);
}

bool CommandRouter::isImmediate(const Envelope& request) const {
    if (!request.m) return false;
    std::lock_guard guard(lock_);
    return immediate_.contains(*request.m);
}

void CommandRouter::addFastPath(const std::string& method, FastPath fastPath) {
    std::lock_guard guard(lock_);
    if (handlers_.contains(method)) fastPaths_[method] = std::move(fastPath);
}

std::optional<Envelope> CommandRouter::tryFastPath(const Envelope& request, const RequestContext& context) const {
    if (!request.id || !request.m) return std::nullopt;
    FastPath fastPath;
    {
        std::lock_guard guard(lock_);
        auto it = fastPaths_.find(*request.m);
        if (it == fastPaths_.end()) return std::nullopt;
        // dispatch answers a refusal; the fast path only ever answers what a handler would.
        if (!context.isAuthenticated && !preAuthMethods_.contains(*request.m)) return std::nullopt;
        fastPath = it->second;
    }
    std::optional<JSONObject> result;
    Envelope answer = answerFrom(*request.id, [&] {
        result = fastPath(request.p.value_or(JSONObject{}), context);
        return result.value_or(JSONObject{});
    });
    if (answer.ok.value_or(false) && !result) return std::nullopt;
    return answer;
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

    return answerFrom(id, [&] { return handler(request.p.value_or(JSONObject{}), context); });
}

std::optional<std::string> CommandRouter::lane(const Envelope& request) const {
    if (!request.m) return std::nullopt;
    // Built under the lock from the table's own entry: this runs for every request.
    std::lock_guard guard(lock_);
    auto it = targets_.find(*request.m);
    if (it == targets_.end()) return std::nullopt;
    const OrderedTarget& target = it->second;
    // A request without the key (it will fail) still waits its turn behind the whole target.
    std::string lane = target.name;
    if (target.keyParam && request.p)
        if (auto key = params::string(*request.p, *target.keyParam)) lane += '\x1f' + *key;
    return lane;
}

void CommandRouter::addConnectionClosedObserver(ConnectionClosedObserver observer) {
    std::lock_guard guard(lock_);
    closedObservers_.push_back(std::move(observer));
}

void CommandRouter::connectionClosed(std::uint64_t connectionID) const {
    std::vector<ConnectionClosedObserver> observers;
    {
        std::lock_guard guard(lock_);
        observers = closedObservers_;
    }
    for (const auto& observer : observers) {
        try {
            observer(connectionID);
        } catch (...) {
            // One family's clean-up failing must not keep the others from theirs.
        }
    }
}

}  // namespace kx
