#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "protocol/Capability.h"
#include "protocol/Envelope.h"
#include "protocol/SetupHint.h"

namespace kx {

// Snapshot of the calling session's authentication, taken when the request frame was processed.
struct RequestContext {
    std::optional<std::string> deviceID;
    bool isAuthenticated = false;
    // The session the request came on; unique for the life of the process, 0 outside a session.
    std::uint64_t connectionID = 0;
    // The address the session's peer connected from, for log lines; empty outside a session.
    std::string peerAddress{};
};

// What a method acts on, where its requests from one session must take effect one at a time in
// the order they were sent. A target keyed by a parameter ("session" by "id") orders only the
// requests that carry the same value; methods without a target run concurrently.
struct OrderedTarget {
    std::string name;                     // e.g. "input", "clipboard", "session"
    std::optional<std::string> keyParam;  // e.g. "id"
};

// Called once for each session that ends, after every request that session had sent has finished,
// so that a family can undo what the session left behind (a held button, say).
using ConnectionClosedObserver = std::function<void(std::uint64_t connectionID)>;

// A method handler runs on a worker thread and may block. It returns the result object or throws
// (a WireError reaches the phone unchanged; anything else becomes "internal").
using MethodHandler = std::function<JSONObject(const JSONObject& params, const RequestContext& context)>;

// Answers a request at once on the calling thread when it can do so without waiting on another
// thread or opening a connection, and otherwise declines by returning nothing; the request then
// goes to its method's handler on a worker as usual.
using FastPath = std::function<std::optional<JSONObject>(const JSONObject& params, const RequestContext& context)>;

// The agent's method table, with the capabilities the methods offer and hints for those missing.
class CommandRouter {
public:
    void registerMethod(const std::string& method, std::optional<Capability> capability, bool requiresAuth,
                        MethodHandler handler, std::optional<OrderedTarget> target = std::nullopt);
    void registerHint(const Capability& capability, SetupHint hint);
    // Marks a registered method whose handler answers at once from memory and never blocks or
    // waits: sessions run its requests on the transport queue as they read them, which spares each
    // request two thread hand-offs. Such a method has no target; registering it again unmarks it.
    void markImmediate(const std::string& method);
    bool isImmediate(const Envelope& request) const;
    // Gives a registered method a fast path, for requests that are usually quick and come in
    // streams (pointer moves): sessions try it on the transport queue when the request's lane has
    // nothing queued or running, which spares the two hand-offs; registering the method again
    // removes it.
    void addFastPath(const std::string& method, FastPath fastPath);
    // The fast path's answer (checked for authentication as dispatch does), or nothing when the
    // method has none, the session may not call it, or the fast path declined.
    std::optional<Envelope> tryFastPath(const Envelope& request, const RequestContext& context) const;

    std::set<Capability> capabilities() const;
    // Capability strings sorted ascending.
    JSONArray capabilityStrings() const;
    std::map<Capability, SetupHint> unavailable() const;
    std::optional<JSONValue> unavailableWire() const;

    // Always answers; runs the handler outside the lock on the calling thread.
    Envelope dispatch(const Envelope& request, const RequestContext& context) const;

    // The lane of the request's target (its name, then the key's value), or null when the method
    // has no target (or is unknown) and the request may run beside any other.
    std::optional<std::string> lane(const Envelope& request) const;

    // Told when a connection that made requests has closed and its last request has ended.
    void addConnectionClosedObserver(ConnectionClosedObserver observer);
    // Tells every observer, in registration order, on the calling thread.
    void connectionClosed(std::uint64_t connectionID) const;

private:
    mutable std::mutex lock_;
    std::map<std::string, MethodHandler> handlers_;
    std::set<std::string> preAuthMethods_;
    std::map<std::string, OrderedTarget> targets_;
    std::set<std::string> immediate_;
    std::map<std::string, FastPath> fastPaths_;
    std::vector<ConnectionClosedObserver> closedObservers_;
    std::set<Capability> capabilities_;
    std::map<Capability, SetupHint> hints_;
};

}  // namespace kx
