#pragma once

// The agent service inside the benchmark on a free loopback port, with one paired client
// connected to it.
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/MemoryIdentityStore.h"
#include "agent/service/AgentService.h"
#include "bench/Percentile.h"
#include "client/KxClient.h"
#include "protocol/Base64URL.h"

namespace kx::bench {

struct BenchAgent {
    std::shared_ptr<AgentService> service;
    std::unique_ptr<KxClient> client;
};

// `options` carries the platform interfaces being measured; identity and names are filled in.
inline BenchAgent startBenchAgent(AgentServiceOptions options) {
    options.identityStore = std::make_shared<MemoryIdentityStore>();
    options.hostName = "bench";
    options.platform = "linux";
    options.os = "bench";
    BenchAgent agent{AgentService::create(std::move(options)), nullptr};
    agent.service->start(std::nullopt, false);

    DeviceCredentials device{"d_bench", SigningKey::generate()};
    PairedDevice entry;
    entry.id = device.deviceId;
    entry.name = "bench phone";
    entry.publicKey = base64URLEncode(device.key.publicKey);
    entry.pairedAt = std::chrono::system_clock::now();
    entry.platform = "bench";
    agent.service->registry().registerDevice(entry);

    ConnectOptions connect;
    connect.host = "127.0.0.1";
    connect.port = *agent.service->listeningPort();
    connect.pinnedFingerprint = agent.service->identity().fingerprint();
    connect.credentials = device;
    agent.client = KxClient::connect(connect);
    return agent;
}

}  // namespace kx::bench
