#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "protocol/Capability.h"
#include "protocol/Envelope.h"
#include "protocol/SetupHint.h"

namespace kx {

// Snapshot of the calling session's authentication, taken when the request frame was processed.
struct RequestContext {
    std::optional<std::string> deviceID;
    bool isAuthenticated = false;
};

// A method handler runs on a worker thread and may block. It returns the result object or throws
// (a WireError reaches the phone unchanged; anything else becomes "internal").
using MethodHandler = std::function<JSONObject(const JSONObject& params, const RequestContext& context)>;

// The agent's method table, with the capabilities the methods offer and hints for those missing.
class CommandRouter {
public:
    void registerMethod(const std::string& method, std::optional<Capability> capability, bool requiresAuth,
                        MethodHandler handler);
    void registerHint(const Capability& capability, SetupHint hint);

    std::set<Capability> capabilities() const;
    // Capability strings sorted ascending.
    JSONArray capabilityStrings() const;
    std::map<Capability, SetupHint> unavailable() const;
    std::optional<JSONValue> unavailableWire() const;

    // Always answers; runs the handler outside the lock on the calling thread.
    Envelope dispatch(const Envelope& request, const RequestContext& context) const;

private:
    mutable std::mutex lock_;
    std::map<std::string, MethodHandler> handlers_;
    std::set<std::string> preAuthMethods_;
    std::set<Capability> capabilities_;
    std::map<Capability, SetupHint> hints_;
};

}  // namespace kx
