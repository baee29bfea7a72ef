#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "client/ClientError.h"
#include "client/ClientHandshake.h"
#include "client/ClientState.h"
#include "client/PendingCall.h"
#include "protocol/Envelope.h"
#include "protocol/HandshakeMessages.h"

namespace kx {

class ClientConnection;

// This machine as a client: host name, the given application name, and "Linux <release>".
ClientIdentity defaultClientIdentity(const std::string& app = "kxctl");

struct ConnectOptions {
    static constexpr std::chrono::milliseconds defaultTimeout{5000};

    std::string host;
    std::uint16_t port = 0;
    std::string pinnedFingerprint;                 // the agent key this client expects
    std::optional<DeviceCredentials> credentials;  // absent: pairing mode
    ClientIdentity client = defaultClientIdentity();
    std::chrono::milliseconds timeout = defaultTimeout;  // TCP connect plus handshake

    static ConnectOptions forDevice(const ClientState& state, ClientIdentity client = defaultClientIdentity());
};

// The phone's side of the protocol over one TCP connection: handshake, requests matched to
// their responses by id (any number in flight, from any thread) and pushed events.
//
// Every failure is a ClientError subtype: AgentUnreachable, FingerprintMismatch,
// BadAgentSignature, PairingRefused, ConnectionClosed, ProtocolViolation, RequestTimeout,
// ErrorResponse (the agent's code and message).
class KxClient {
public:
    using EventHandler = std::function<void(const Envelope& event)>;

    // Connects and completes the handshake, checking the agent's signature and pinned key.
    static std::unique_ptr<KxClient> connect(const ConnectOptions& options);
    ~KxClient();

    // The agent's "sec.auth" reply: descriptor, capabilities, unavailable capabilities.
    const AuthReply& auth() const;

    // Sends a request and waits for its answer (without a limit unless one is given). A timeout
    // abandons this request only; a late answer is dropped.
    JSONObject call(const std::string& method, const JSONObject& params = {},
                    std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    // Sends at once; get() on the pending call yields the result or throws as call() would.
    PendingCall callAsync(const std::string& method, const JSONObject& params = {});

    // Events go to the handler when one is set (called on the client's network thread: it must
    // not block or call back into this client), otherwise into a queue read by nextEvent().
    void setEventHandler(EventHandler handler);
    // The next queued event; absent after `timeout`. Throws ConnectionClosed once the connection
    // has ended and the queue is empty.
    std::optional<Envelope> nextEvent(std::chrono::milliseconds timeout);

    bool isOpen() const;
    // Closes the connection; pending requests fail with ConnectionClosed. Idempotent.
    void close();

private:
    explicit KxClient(std::unique_ptr<ClientConnection> connection);
    std::unique_ptr<ClientConnection> connection_;
};

}  // namespace kx
