// "system.volume.set" through the agent on the session's sound server (a paired client on loopback
// TCP, the secure channel, the router, libpulse), and the delay from a volume change made by
// another client of the sound server, as pactl is, to the "system.state" event at the phone.
// Reports the median and the 99th percentile. Needs a sound server (scripts/lib/services.sh).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "bench/InProcessBench.h"
#include "bench/Percentile.h"
#include "platform/linux/system/PulseAudioOutput.h"

namespace {

using namespace kx;
using namespace std::chrono_literals;

constexpr int kRoundTrips = 2000;
constexpr int kChanges = 300;
constexpr double kPercentile50 = 0.50;
constexpr double kPercentile99 = 0.99;

using bench::percentile;

struct Agent {
    bench::InProcessBench agent;
    std::shared_ptr<PulseAudioOutput> audio;
};

Agent startAgent() {
    auto audio = std::make_shared<PulseAudioOutput>();
    return {bench::startInProcessBench([&](AgentServiceOptions& options) { options.systemPorts.audio = audio; }),
            audio};
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
        running.agent.client->call("system.volume.set", {{"level", level}});
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started).count());
        level = level == 0.3 ? 0.4 : 0.3;
    }
    report(state, micros);
    drainEvents(*running.agent.client);
}

// Another client of the sound server changes the volume; timed until the phone holds the event.
void VolumeChangeToEvent(benchmark::State& state) {
    Agent& running = agent(state);
    PulseAudioOutput other;
    std::vector<double> micros;
    micros.reserve(kChanges);
    float level = 0.2f;
    drainEvents(*running.agent.client);
    for (auto _ : state) {
        if (!running.audio->available()) break;
        const auto started = std::chrono::steady_clock::now();
        other.setVolume(level);
        auto event = running.agent.client->nextEvent(5s);
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
