// The agent's speed as ratios to what this machine allows in the same run: request latency against
// a raw loopback round trip, handshakes against their crypto alone, pipelined pings against the
// per-request work on one core, sealing against bare AEAD, a pointer move against the X server
// alone, and memory per idle connection. Absolute figures drift on a shared machine; the ratios
// are what the goals are about. Printed as one table (scripts/bench.sh builds and runs it).
#include <sys/resource.h>
#include <sys/utsname.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "agent/control/InputController.h"
#include "agent/support/DescriptorLimit.h"
#include "bench/report/BenchAgent.h"
#include "bench/report/CorePlacement.h"
#include "bench/report/MachineLimits.h"
#include "bench/report/ReportTable.h"
#include "platform/linux/input/X11EventPoster.h"
#include "protocol/SecureChannel.h"

using namespace kx;
using namespace kx::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::chrono::seconds runLength{3};
constexpr std::chrono::milliseconds limitLength{1000};
// Latencies and their limits take turns sample by sample, so that both see the same load.
constexpr int pings = 20000;
constexpr int moves = 5000;
constexpr std::size_t pingFrameSize = 64;  // about a sealed ping request
constexpr int pipelineWindow = 64;
constexpr int pipelinedConnections = 16;
// Phones connecting at once: each handshake waits on several round trips, so a few keep both
// cores busy.
constexpr int handshakePhones = 4;
constexpr int idleConnections = 10000;
constexpr double pipelinedFloor = 150000;

double secondsSince(Clock::time_point started) {
    return std::chrono::duration<double>(Clock::now() - started).count();
}

template <class Call>
double timeMicroseconds(Call call) {
    auto started = Clock::now();
    call();
    return std::chrono::duration<double, std::micro>(Clock::now() - started).count();
}

void pingLatency(const BenchAgent& agent, ReportTable& table) {
    auto peer = agent.connect();
    LoopbackEcho echo(pingFrameSize);
    CorePlacement placement(agent.pid());
    Samples agentPings, raw;
    for (int i = 0; i < pings; ++i) {
        raw.add(echo.roundTrip());
        agentPings.add(timeMicroseconds([&] {
            if (!peer->call("agent.ping")) throw std::runtime_error("ping unanswered");
        }));
    }
    table.add({"sequential agent.ping p50 (us)", agentPings.percentile(0.5), "loopback TCP round trip p50",
               raw.percentile(0.5), false, ReportTable::Better::lower, 1.5, "<= 1.5x"});
    table.add({"sequential agent.ping p99 (us)", agentPings.percentile(0.99), "loopback TCP round trip p99",
               raw.percentile(0.99), false, ReportTable::Better::lower, 3, "<= 3x"});
}

double processCPUSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs `phones` threads of `call` against the agent for runLength. Returns the calls per second of
// wall time and per second of the CPU time both processes spent meanwhile.
template <class Call>
std::pair<double, double> callsPerSecond(const BenchAgent& agent, int phones, Call call) {
    std::atomic<long> done{0};
    auto deadline = Clock::now() + runLength;
    std::vector<std::thread> threads;
    auto started = Clock::now();
    double cpuBefore = processCPUSeconds() + agent.cpuSeconds();
    for (int t = 0; t < phones; ++t)
        threads.emplace_back([&] {
            while (Clock::now() < deadline) done += call();
        });
    for (auto& thread : threads) thread.join();
    double cpu = processCPUSeconds() + agent.cpuSeconds() - cpuBefore;
    return {static_cast<double>(done) / secondsSince(started), static_cast<double>(done) / cpu};
}

// On a shared machine the wall-clock rate is what the other users leave over; the CPU time the
// phones and the agent spent says what the two cores would carry on their own.
void handshakes(const BenchAgent& agent, ReportTable& table) {
    const int cores = static_cast<int>(std::min(2u, std::max(1u, std::thread::hardware_concurrency())));
    double limitBefore = handshakeCryptoPerSecond(cores, limitLength);
    auto [wall, perCPU] = callsPerSecond(agent, handshakePhones, [&] {
        agent.connect();
        return 1;
    });
    double limit = (limitBefore + handshakeCryptoPerSecond(cores, limitLength)) / 2;
    std::string limitName = "both sides' crypto, " + std::to_string(cores) + " cores";
    table.add({"handshakes / s (wall clock, shared machine)", wall, limitName, limit, false,
               ReportTable::Better::higher, 0, "(what the load leaves)"});
    table.add({"handshakes / s on " + std::to_string(cores) + " cores (per CPU time)", perCPU * cores, limitName, limit,
               false, ReportTable::Better::higher, 0.6, ">= 0.60x"});
}

void pipelined(const BenchAgent& agent, ReportTable& table) {
    double limit = requestsPerSecondOneCore(limitLength);
    auto [wall, perCPU] = callsPerSecond(agent, pipelinedConnections, [&, text = std::string()]() mutable {
        thread_local std::unique_ptr<e2e::RawPeer> peer;
        if (!peer) peer = agent.connect();
        std::string request = Envelope::request("p", "agent.ping").encode();
        Bytes batch, frame;
        for (int i = 0; i < pipelineWindow; ++i) {
            peer->channel()->seal(asBytes(request), frame);
            batch.insert(batch.end(), frame.begin(), frame.end());
        }
        peer->sendBytes(batch);
        for (int i = 0; i < pipelineWindow; ++i)
            if (!peer->readEnvelope()) throw std::runtime_error("ping unanswered");
        return pipelineWindow;
    });
    // The goal is 150,000/s or half the one-core limit, whichever is lower.
    double goal = std::min(pipelinedFloor, limit / 2);
    char goalText[64];
    std::snprintf(goalText, sizeof goalText, ">= %.0f/s (%s)", goal, goal == pipelinedFloor ? "150k" : "limit/2");
    std::string limitName = "seal+open+parse+encode, one core";
    table.add({"pipelined pings / s, 16 connections", wall, limitName, limit, false, ReportTable::Better::higher,
               goal / limit, goalText});
    table.add({"pipelined pings / CPU second, 16 connections", perCPU, limitName, limit, false,
               ReportTable::Better::higher, 0, "(for the profile)"});
}

void sealOpen(ReportTable& table) {
    for (std::size_t size : {std::size_t{64}, std::size_t{1024}, SecureChannel::maxPayload}) {
        SealOpenCost cost = sealOpenNanoseconds(size, limitLength);
        table.add({"session seal+open " + std::to_string(size) + " B (ns)", cost.channel,
                   "raw ChaCha20-Poly1305 seal+open", cost.raw, false, ReportTable::Better::lower, 1.1, "<= 1.1x"});
    }
}

void pointerMoves(const BenchAgent& agent, ReportTable& table) {
    if (!std::getenv("DISPLAY")) {
        std::cout << "DISPLAY is not set: the pointer row is left out (scripts/bench.sh starts an X server)\n";
        return;
    }
    auto peer = agent.connect();
    InputController display(std::make_shared<X11EventPoster>(), std::make_shared<InputMutex>());
    CorePlacement placement(agent.pid());
    Samples viaAgent, alone;
    double dx = 1;
    for (int i = 0; i < moves; ++i, dx = -dx) {
        alone.add(timeMicroseconds([&] { display.move(dx, 0); }));
        viaAgent.add(timeMicroseconds([&] {
            auto answer = peer->call("input.pointer.move", {{"dx", -dx}});
            if (!answer || !answer->ok.value_or(false)) throw std::runtime_error("pointer move failed");
        }));
    }
    table.add({"input.pointer.move round trip p50 (us)", viaAgent.percentile(0.5), "the X server alone p50",
               alone.percentile(0.5), true, ReportTable::Better::lower, 30, "<= +30 us"});
}

void idleMemory(const BenchAgent& agent, ReportTable& table) {
    constexpr int warmUp = 10;
    std::vector<std::unique_ptr<e2e::RawPeer>> peers;
    for (int i = 0; i < warmUp; ++i) peers.push_back(agent.connect());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    long before = agent.residentKiB();
    for (int i = 0; i < idleConnections; ++i) peers.push_back(agent.connect());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    long after = agent.residentKiB();
    table.add({"resident KiB per idle connection (10,000)", double(after - before) / idleConnections, "", 0, false,
               ReportTable::Better::lower, 4, "<= 4 KiB"});
}

void describeMachine() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string model = "unknown CPU";
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    utsname system{};
    uname(&system);
    double load[3] = {0, 0, 0};
    if (::getloadavg(load, 3) != 3) load[0] = -1;
    std::printf("machine: %s, %u CPU(s), %s %s, load average %.2f %.2f %.2f\n", model.c_str(),
                std::thread::hardware_concurrency(), system.sysname, system.release, load[0], load[1], load[2]);
}

// Each section, by the name that runs it alone (for profiling): no names run them all.
bool wanted(int argc, char** argv, std::string_view section) {
    return argc < 2 || std::find(argv + 1, argv + argc, section) != argv + argc;
}

}  // namespace

int main(int argc, char** argv) {
    // Both this process and the agent hold one descriptor per idle connection.
    DescriptorLimit limit = raiseDescriptorLimit();
    if (limit.soft < idleConnections + 1000) std::cout << limit.description() << ": too few for the idle row\n";
    try {
        BenchAgent agent;
        describeMachine();
        ReportTable table;
        if (wanted(argc, argv, "ping")) pingLatency(agent, table);
        if (wanted(argc, argv, "handshakes")) handshakes(agent, table);
        if (wanted(argc, argv, "pipelined")) pipelined(agent, table);
        if (wanted(argc, argv, "seal")) sealOpen(table);
        if (wanted(argc, argv, "pointer")) pointerMoves(agent, table);
        if (wanted(argc, argv, "idle")) idleMemory(agent, table);
        table.print();
    } catch (const std::exception& error) {
        std::cerr << "bench: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
