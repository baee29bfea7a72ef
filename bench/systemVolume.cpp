// "system.volume.set" through the agent on the session's sound server (a paired client on loopback
// TCP, the secure channel, the router, libpulse), and the delay from a volume change made by
// another client of the sound server, as pactl is, to the "system.state" event at the phone.
// Reports the median and the 99th percentile. Needs a sound server (scripts/lib/services.sh).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/MemoryIdentityStore.h"
#include "agent/service/AgentService.h"
#include "client/KxClient.h"
#include "platform/linux/system/PulseAudioOutput.h"
#include "protocol/Base64URL.h"

namespace {

using namespace kx;
using namespace std::chrono_literals;

constexpr int kRoundTrips = 2000;
constexpr int kChanges = 300;
constexpr double kPercentile50 = 0.50;
constexpr double kPercentile99 = 0.99;

struct Agent {
    std::shared_ptr<AgentService> service;
    std::unique_ptr<KxClient> client;
    std::shared_ptr<PulseAudioOutput> audio;
};

Agent startAgent() {
    Agent agent;
    agent.audio = std::make_shared<PulseAudioOutput>();
    AgentServiceOptions options;
    options.identityStore = std::make_shared<MemoryIdentityStore>();
    options.hostName = "bench";
    options.platform = "linux";
    options.os = "bench";
    options.systemPorts.audio = agent.audio;
    agent.service = AgentService::create(std::move(options));
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

double percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1))];
}

void report(benchmark::State& state, const std::vector<double>& micros) {
    if (micros.empty()) return;
    state.counters["p50_us"] = percentile(micros, kPercentile50);
    state.counters["p99_us"] = percentile(micros, kPercentile99);
}

Agent& agent(benchmark::State& state) {
    static Agent running = startAgent();
    if (!running.audio->available()) state.SkipWithError("no sound server: start one (scripts/lib/services.sh)");
    return running;
}

// Events the agent pushed for earlier changes, so the next one read is the one being timed.
void drainEvents(KxClient& client) {
    while (client.nextEvent(100ms)) {
    }
}

void VolumeSetRoundTrip(benchmark::State& state) {
    Agent& running = agent(state);
    std::vector<double> micros;
    micros.reserve(kRoundTrips);
    double level = 0.3;
    for (auto _ : state) {
        if (!running.audio->available()) break;
        const auto started = std::chrono::steady_clock::now();
        running.client->call("system.volume.set", {{"level", level}});
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started).count());
        level = level == 0.3 ? 0.4 : 0.3;
    }
    report(state, micros);
    drainEvents(*running.client);
}

// Another client of the sound server changes the volume; timed until the phone holds the event.
void VolumeChangeToEvent(benchmark::State& state) {
    Agent& running = agent(state);
    PulseAudioOutput other;
    std::vector<double> micros;
    micros.reserve(kChanges);
    float level = 0.2f;
    drainEvents(*running.client);
    for (auto _ : state) {
        if (!running.audio->available()) break;
        const auto started = std::chrono::steady_clock::now();
        other.setVolume(level);
        auto event = running.client->nextEvent(5s);
        if (!event) {
            state.SkipWithError("no event within 5 s");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started).count());
        level = level == 0.2f ? 0.25f : 0.2f;
    }
    report(state, micros);
}

}  // namespace

BENCHMARK(VolumeSetRoundTrip)->Iterations(kRoundTrips)->Unit(benchmark::kMicrosecond);
BENCHMARK(VolumeChangeToEvent)->Iterations(kChanges)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
