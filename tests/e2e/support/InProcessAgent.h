#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/MemoryIdentityStore.h"
#include "agent/service/AgentService.h"
#include "protocol/Base64URL.h"
#include "protocol/KxSec.h"
#include "tests/e2e/support/RawPeer.h"
#include "tests/support/TempFolder.h"

namespace kx::e2e {

// A device key pair registered with an agent, as a paired phone holds it.
struct TestDevice {
    std::string id;
    SigningKey key;
};

// The agent service running inside the test process on a free loopback-reachable port, with a
// fresh identity, its registry in a temporary folder and no advertisement. For tests that need
// handlers of their own (register them on router() before start()) or reach into the core.
class InProcessAgent {
public:
    struct Options {
        std::chrono::milliseconds handshakeTimeout = TransportServer::defaultHandshakeTimeout;
        SessionLimits sessionLimits = {};
        std::shared_ptr<SleepInhibitor> sleepInhibitor = nullptr;
        bool startNow = true;
        // Sets what else the test needs (ports, doubles) before the service is made.
        std::function<void(AgentServiceOptions&)> configure = nullptr;
    };

    InProcessAgent() : InProcessAgent(Options{}) {}
    explicit InProcessAgent(Options options) {
        AgentServiceOptions service;
        service.identityStore = std::make_shared<MemoryIdentityStore>();
        service.registryPath = data_.path() / "devices.json";
        service.hostName = "test-host.local";
        service.version = "1.2.3";
        service.platform = "linux";
        service.os = "Test OS 1";
        service.sleepInhibitor = std::move(options.sleepInhibitor);
        service.handshakeTimeout = options.handshakeTimeout;
        service.sessionLimits = options.sessionLimits;
        if (options.configure) options.configure(service);
        service_ = AgentService::create(std::move(service));
        if (options.startNow) start();
    }

    void start() { service_->start(std::nullopt, false); }
    // Registers a method of the test's own for authenticated sessions (before start()).
    void add(const std::string& method, MethodHandler handler, std::optional<OrderedTarget> target = std::nullopt) {
        service_->router().registerMethod(method, std::nullopt, true, std::move(handler), std::move(target));
    }
    AgentService& service() { return *service_; }
    std::uint16_t port() const {
        auto port = service_->listeningPort();
        if (!port) throw std::logic_error("the agent is not listening");
        return *port;
    }

    // A session of `device` past its handshake; throws when the agent refuses it.
    std::unique_ptr<RawPeer> connect(const TestDevice& device) {
        auto peer = std::make_unique<RawPeer>(port());
        if (!peer->handshake(device.id, device.key)) throw std::runtime_error("handshake refused");
        return peer;
    }

    // Registers a new device directly in the registry (no pairing round-trip).
    TestDevice addDevice() {
        static std::atomic<int> counter{0};
        TestDevice device{"d_test" + std::to_string(++counter), SigningKey::generate()};
        service_->registry().registerDevice({device.id, "test phone", base64URLEncode(device.key.publicKey),
                                             std::chrono::system_clock::now(), std::nullopt, "test"});
        return device;
    }

private:
    kx::testing::TempFolder data_;
    std::shared_ptr<AgentService> service_;
};

}  // namespace kx::e2e
