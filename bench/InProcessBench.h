#pragma once

// The tests' in-process agent on a free loopback port, with one paired client connected to it.
#include <functional>
#include <memory>
#include <utility>

#include "client/KxClient.h"
#include "tests/e2e/support/InProcessAgent.h"

namespace kx::bench {

struct InProcessBench {
    std::unique_ptr<e2e::InProcessAgent> agent;
    std::unique_ptr<KxClient> client;
};

// `configure` sets the platform interfaces being measured.
inline InProcessBench startInProcessBench(std::function<void(AgentServiceOptions&)> configure) {
    InProcessBench bench{
        std::make_unique<e2e::InProcessAgent>(e2e::InProcessAgent::Options{.configure = std::move(configure)}),
        nullptr};
    e2e::TestDevice device = bench.agent->addDevice();
    ConnectOptions connect;
    connect.host = "127.0.0.1";
    connect.port = bench.agent->port();
    connect.pinnedFingerprint = bench.agent->service().identity().fingerprint();
    connect.credentials = DeviceCredentials{device.id, device.key};
    bench.client = KxClient::connect(connect);
    return bench;
}

}  // namespace kx::bench
