#pragma once

#include <asio.hpp>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent/pairing/AgentIdentity.h"
#include "protocol/Envelope.h"
#include "protocol/HandshakeMessages.h"

namespace kx::test {

struct FakeAgentBehaviour {
    bool pairingOpen = true;
    std::string token = "token-0123456789";
    bool silent = false;                                     // never sends the hello
    std::optional<AgentIdentity> signWith = std::nullopt;    // signs the reply with another key
    std::optional<AgentIdentity> presentKey = std::nullopt;  // presents another public key
};

// The agent's side of the protocol on a loopback port, small enough to steer from a test: it
// pairs one token, knows devices by id, echoes requests (after `delayMs` when asked) and can
// push events, drop connections, stay silent or misbehave in its handshake reply.
class FakeAgent {
public:
    using Behaviour = FakeAgentBehaviour;
    explicit FakeAgent(Behaviour behaviour = {});
    ~FakeAgent();

    std::uint16_t port() const { return port_; }
    const AgentIdentity& identity() const { return identity_; }
    std::string fingerprint() const { return identity_.fingerprint(); }

    // What "pair.begin" received, and the devices it admitted (id -> base64url public key).
    std::optional<JSONObject> lastPairingRequest() const;
    std::optional<ClientIdentity> lastClient() const;
    void addDevice(const std::string& id, const std::string& publicKey);

    void push(const std::string& method, const JSONObject& params);
    void dropConnections();
    int authenticatedConnections() const { return authenticated_; }

private:
    struct Connection;
    void acceptLoop();
    void serve(std::shared_ptr<Connection> connection);
    bool handshake(Connection& connection);
    void answer(std::shared_ptr<Connection> connection, Envelope request);
    JSONObject pairBegin(const JSONObject& params);

    const Behaviour behaviour_;
    const AgentIdentity identity_;
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> authenticated_{0};

    mutable std::mutex lock_;
    std::map<std::string, std::string> devices_;
    std::optional<JSONObject> lastPairing_;
    std::optional<ClientIdentity> lastClient_;
    std::vector<std::shared_ptr<Connection>> connections_;
    std::vector<std::thread> threads_;
    std::thread acceptor_thread_;
};

}  // namespace kx::test
