#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/service/AgentService.h"
#include "protocol/KxSec.h"
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
        SessionLimits sessionLimits;
        std::shared_ptr<SleepInhibitor> sleepInhibitor;
        bool startNow = true;
    };

    InProcessAgent();
    explicit InProcessAgent(Options options);

    void start();
    AgentService& service() { return *service_; }
    std::shared_ptr<AgentService> sharedService() { return service_; }
    std::uint16_t port() const;
    const std::filesystem::path& dataDirectory() const { return data_.path(); }

    // Registers a new device directly in the registry (no pairing round-trip).
    TestDevice addDevice(const std::string& name = "test phone");
    void addDevice(const TestDevice& device, const std::string& name = "test phone");

private:
    kx::testing::TempFolder data_;
    std::shared_ptr<AgentService> service_;
};

}  // namespace kx::e2e
