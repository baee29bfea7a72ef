// Round trips of "input.pointer.move" through the agent: a paired client on loopback TCP, the
// secure channel, the router, and the X server (each answer leaves after its event was flushed to
// the display). Reports the median and the 99th percentile. Needs DISPLAY.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/MemoryIdentityStore.h"
#include "agent/service/AgentService.h"
#include "bench/Percentile.h"
#include "client/KxClient.h"
#include "platform/linux/input/X11EventPoster.h"
#include "protocol/Base64URL.h"

namespace {

using namespace kx;
using kx::bench::percentile;

constexpr int kRoundTrips = 5000;
constexpr double kPercentile50 = 0.50;
constexpr double kPercentile99 = 0.99;

struct Agent {
    std::shared_ptr<AgentService> service;
    std::unique_ptr<KxClient> client;
};

Agent startAgent() {
    AgentServiceOptions options;
    options.identityStore = std::make_shared<MemoryIdentityStore>();
    options.hostName = "bench";
    options.platform = "linux";
    options.os = "bench";
    options.eventPoster = std::make_shared<X11EventPoster>();
    Agent agent{AgentService::create(std::move(options)), nullptr};
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

// Times each move (back and forth, so the pointer never reaches an edge) and reports percentiles.
template <class Move>
void measureMoves(benchmark::State& state, Move move) {
    std::vector<double> micros;
    micros.reserve(kRoundTrips);
    double dx = 1;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        move(dx);
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started).count());
        dx = -dx;
    }
    state.counters["p50_us"] = percentile(micros, kPercentile50);
    state.counters["p99_us"] = percentile(micros, kPercentile99);
}

bool displayAvailable(benchmark::State& state) {
    if (std::getenv("DISPLAY")) return true;
    state.SkipWithError("DISPLAY is not set: start an X server (scripts/lib/services.sh)");
    return false;
}

// The whole road: client, loopback TCP, secure channel, router, controller, X server.
void PointerMoveRoundTrip(benchmark::State& state) {
    if (!displayAvailable(state)) return;
    static Agent agent = startAgent();
    measureMoves(state, [&](double dx) { agent.client->call("input.pointer.move", {{"dx", dx}}); });
}

// The controller and the X server alone, to tell the network's share from the display's.
void PointerMoveOnTheDisplay(benchmark::State& state) {
    if (!displayAvailable(state)) return;
    static InputController controller(std::make_shared<X11EventPoster>(), std::make_shared<InputMutex>());
    measureMoves(state, [&](double dx) { controller.move(dx, 0); });
}

}  // namespace

BENCHMARK(PointerMoveRoundTrip)->Iterations(kRoundTrips)->Unit(benchmark::kMicrosecond);
BENCHMARK(PointerMoveOnTheDisplay)->Iterations(kRoundTrips)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
