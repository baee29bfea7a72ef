// Transport over loopback: handshakes with device authentication per second, sequential ping
// round trips, pipelined pings over 1 and 16 connections, and the agent's resident memory per
// idle established connection. The agent runs in a child process so that its memory and CPU are
// its own; the phone side is a frame-level peer.
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "agent/support/DescriptorLimit.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/e2e/support/RawPeer.h"
#include "tests/support/Subprocess.h"

using namespace kx;
using namespace kx::e2e;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::chrono::seconds runLength{3};
constexpr int sequentialPings = 20000;
constexpr int pipelineWindow = 64;
constexpr int idleConnections = 1000;
constexpr int handshakeThreads = 2;
constexpr int portDescriptor = 3;
const std::string deviceID = "d_bench";

// The child: an agent with the bench's device, reporting its port, until its parent goes away.
// In the agent's own process: tells its port on the notice descriptor, serves until its input closes.
int runAgent(const SigningKey& key) {
    InProcessAgent agent;
    agent.addDevice({deviceID, key}, "bench");
    std::uint16_t port = agent.port();
    [[maybe_unused]] auto written = ::write(portDescriptor, &port, sizeof port);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

std::unique_ptr<RawPeer> connect(std::uint16_t port, const SigningKey& key) {
    auto peer = std::make_unique<RawPeer>(port);
    if (!peer->handshake(deviceID, key)) throw std::runtime_error("handshake refused");
    return peer;
}

double handshakesPerSecond(std::uint16_t port, const SigningKey& key) {
    std::atomic<long> done{0};
    auto deadline = Clock::now() + runLength;
    std::vector<std::thread> threads;
    for (int t = 0; t < handshakeThreads; ++t)
        threads.emplace_back([&] {
            while (Clock::now() < deadline) {
                connect(port, key);
                ++done;
            }
        });
    auto started = Clock::now();
    for (auto& thread : threads) thread.join();
    return done / std::chrono::duration<double>(Clock::now() - started).count();
}

std::pair<double, double> pingLatencyMicroseconds(std::uint16_t port, const SigningKey& key) {
    auto peer = connect(port, key);
    std::vector<double> samples;
    samples.reserve(sequentialPings);
    for (int i = 0; i < sequentialPings; ++i) {
        auto start = Clock::now();
        if (!peer->call("agent.ping")) throw std::runtime_error("ping unanswered");
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

double pipelinedPingsPerSecond(std::uint16_t port, const SigningKey& key, int connections) {
    std::atomic<long> answered{0};
    auto deadline = Clock::now() + runLength;
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c)
        threads.emplace_back([&] {
            auto peer = connect(port, key);
            std::string text = Envelope::request("p", "agent.ping").encode();
            while (Clock::now() < deadline) {
                Bytes batch;
                for (int i = 0; i < pipelineWindow; ++i) {
                    Bytes frame = peer->channel()->seal(asBytes(text));
                    batch.insert(batch.end(), frame.begin(), frame.end());
                }
                peer->sendBytes(batch);
                for (int i = 0; i < pipelineWindow; ++i)
                    if (!peer->readEnvelope()) throw std::runtime_error("ping unanswered");
                answered += pipelineWindow;
            }
        });
    auto started = Clock::now();
    for (auto& thread : threads) thread.join();
    return answered / std::chrono::duration<double>(Clock::now() - started).count();
}

double idleKiBPerConnection(pid_t agent, std::uint16_t port, const SigningKey& key) {
    constexpr int warmUp = 10;
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < warmUp; ++i) peers.push_back(connect(port, key));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    long before = residentKiB(agent);
    for (int i = 0; i < idleConnections; ++i) peers.push_back(connect(port, key));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    long after = residentKiB(agent);
    return double(after - before) / idleConnections;
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
    std::cout << "machine: " << model << ", " << std::thread::hardware_concurrency() << " CPU(s), " << system.sysname
              << " " << system.release << "\n";
}

}  // namespace

int main() {
    raiseDescriptorLimit();
    SigningKey key = SigningKey::generate();
    kx::testing::Subprocess agentProcess([&] { return runAgent(key); }, {.pipeInput = true, .notice = portDescriptor});
    const pid_t agent = agentProcess.pid();
    std::uint16_t port = 0;
    if (::read(agentProcess.notice(), &port, sizeof port) != sizeof port) return 1;

    describeMachine();
    std::printf("%-48s %10s   %s\n", "measure", "result", "goal");
    std::printf("%-48s %10.1f   <= 32 KiB\n", "resident KiB per idle connection (1,000)",
                idleKiBPerConnection(agent, port, key));
    std::printf("%-48s %10.0f   >= 2,000\n", "handshakes with device authentication / s",
                handshakesPerSecond(port, key));
    auto [p50, p99] = pingLatencyMicroseconds(port, key);
    std::printf("%-48s %10.1f   <= 100 us\n", "sequential agent.ping round trip p50 (us)", p50);
    std::printf("%-48s %10.1f   <= 500 us\n", "sequential agent.ping round trip p99 (us)", p99);
    std::printf("%-48s %10.0f   >= 50,000\n", "pipelined pings / s, 1 connection",
                pipelinedPingsPerSecond(port, key, 1));
    std::printf("%-48s %10.0f   >= 50,000\n", "pipelined pings / s, 16 connections",
                pipelinedPingsPerSecond(port, key, 16));

    agentProcess.closeInput();
    agentProcess.waitFor(std::chrono::minutes(1));
    return 0;
}
