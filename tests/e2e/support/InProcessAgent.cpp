#include "tests/e2e/support/InProcessAgent.h"

#include <atomic>
#include <stdexcept>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/MemoryIdentityStore.h"
#include "protocol/Base64URL.h"

namespace kx::e2e {

InProcessAgent::InProcessAgent() : InProcessAgent(Options{}) {}

InProcessAgent::InProcessAgent(Options options) {
    AgentServiceOptions serviceOptions;
    serviceOptions.identityStore = std::make_shared<MemoryIdentityStore>();
    serviceOptions.registryPath = data_.path() / "devices.json";
    serviceOptions.hostName = "test-host.local";
    serviceOptions.version = "1.2.3";
    serviceOptions.platform = "linux";
    serviceOptions.os = "Test OS 1";
    serviceOptions.sleepInhibitor = std::move(options.sleepInhibitor);
    serviceOptions.handshakeTimeout = options.handshakeTimeout;
    serviceOptions.sessionLimits = options.sessionLimits;
    service_ = AgentService::create(std::move(serviceOptions));
    if (options.startNow) start();
}

void InProcessAgent::start() {
    service_->start(std::nullopt, false);
}

std::uint16_t InProcessAgent::port() const {
    auto port = service_->listeningPort();
    if (!port) throw std::logic_error("the agent is not listening");
    return *port;
}

TestDevice InProcessAgent::addDevice(const std::string& name) {
    static std::atomic<int> counter{0};
    TestDevice device{"d_test" + std::to_string(++counter), SigningKey::generate()};
    addDevice(device, name);
    return device;
}

void InProcessAgent::addDevice(const TestDevice& device, const std::string& name) {
    PairedDevice entry;
    entry.id = device.id;
    entry.name = name;
    entry.publicKey = base64URLEncode(device.key.publicKey);
    entry.pairedAt = std::chrono::system_clock::now();
    entry.platform = "test";
    service_->registry().registerDevice(entry);
}

}  // namespace kx::e2e
