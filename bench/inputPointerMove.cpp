// Round trips of "input.pointer.move" through the agent: a paired client on loopback TCP, the
// secure channel, the router, and the X server (each answer leaves after its event was flushed to
// the display). Reports the median and the 99th percentile. Needs DISPLAY.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "bench/InProcessBench.h"
#include "bench/Percentile.h"
#include "platform/linux/input/X11EventPoster.h"

namespace {

using namespace kx;

constexpr int kRoundTrips = 5000;
constexpr double kPercentile50 = 0.50;
constexpr double kPercentile99 = 0.99;

using bench::percentile;

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
    static bench::InProcessBench agent = bench::startInProcessBench(
        [](AgentServiceOptions& options) { options.eventPoster = std::make_shared<X11EventPoster>(); });
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
