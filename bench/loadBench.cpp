// Load over loopback: 200 paired sessions sending 500 requests each (every response must arrive
// exactly once), the agent's resident memory afterwards, and a paired phone's ping round trip
// alone, while thousands of idle sockets are opened against the agent, and while two processes
// complete fresh handshakes as fast as they can. The agent and each flood run in processes of
// their own, so that their CPU and descriptors are their own.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "agent/support/DescriptorLimit.h"
#include "bench/Percentile.h"
#include "bench/report/BenchAgent.h"
#include "tests/e2e/support/IdleSockets.h"
#include "tests/e2e/support/RawPeer.h"

using namespace kx;
using namespace kx::e2e;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int sessionCount = 200;
constexpr int requestsPerSession = 500;
constexpr int loadThreads = 8;
constexpr int requestsPerBatch = 50;
constexpr int pingSamples = 2000;
constexpr int handshakeFloodProcesses = 2;
constexpr std::size_t idleSocketsHeld = 8000;  // then closed and opened again
constexpr std::size_t idleSocketsPerStep = 100;
constexpr std::chrono::milliseconds floodWarmUp{500};
constexpr std::chrono::milliseconds answerWait{10000};

// Counters shared with the flood processes.
struct Shared {
    std::atomic<bool> stop{false};
    std::atomic<long> handshakes{0};
    std::atomic<long> idleOpened{0};
};

Shared* sharedCounters() {
    void* memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::runtime_error("mmap");
    return new (memory) Shared;
}

pid_t spawn(const std::function<void()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        body();
        std::_Exit(0);
    }
    return pid;
}

struct LoadResult {
    long lost = 0;
    long duplicated = 0;
    double seconds = 0;
};

// One thread's sessions, in batches: every session sends a batch, then every answer is read.
void driveSessions(const bench::BenchAgent& agent, int first, int count, std::atomic<long>& lost,
                   std::atomic<long>& duplicated) {
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int s = 0; s < count; ++s) peers.push_back(agent.connect());
    std::vector<std::vector<int>> seen(count, std::vector<int>(requestsPerSession, 0));
    for (int sent = 0; sent < requestsPerSession; sent += requestsPerBatch) {
        for (int s = 0; s < count; ++s)
            for (int r = sent; r < sent + requestsPerBatch; ++r)
                peers[s]->sendRequest(std::to_string(first + s) + "-" + std::to_string(r), "agent.ping");
        for (int s = 0; s < count; ++s)
            for (int r = 0; r < requestsPerBatch; ++r) {
                auto answer = peers[s]->readEnvelope(answerWait);
                if (!answer) break;
                if (!answer->id || answer->ok != true) continue;
                int index = std::stoi(answer->id->substr(answer->id->find('-') + 1));
                if (index >= 0 && index < requestsPerSession) ++seen[s][index];
            }
    }
    for (auto& session : seen)
        for (int times : session) {
            if (times == 0) ++lost;
            if (times > 1) duplicated += times - 1;
        }
}

LoadResult runLoad(const bench::BenchAgent& agent) {
    std::atomic<long> lost{0}, duplicated{0};
    auto started = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < loadThreads; ++t)
        threads.emplace_back([&, t] {
            int perThread = sessionCount / loadThreads;
            driveSessions(agent, t * perThread, perThread, lost, duplicated);
        });
    for (auto& thread : threads) thread.join();
    return {lost, duplicated, std::chrono::duration<double>(Clock::now() - started).count()};
}

std::pair<double, double> pingMilliseconds(RawPeer& phone) {
    std::vector<double> samples;
    for (int i = 0; i < pingSamples; ++i) {
        auto start = Clock::now();
        if (!phone.call("agent.ping")) throw std::runtime_error("ping unanswered");
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return {bench::percentileOfSorted(samples, 0.5), bench::percentileOfSorted(samples, 0.99)};
}

void idleFlood(std::uint16_t port, Shared& shared) {
    while (!shared.stop) {
        IdleSockets idle;  // closes what it holds at the end of each round
        while (!shared.stop && idle.size() < idleSocketsHeld)
            shared.idleOpened += static_cast<long>(idle.open(port, idleSocketsPerStep));
    }
}

void handshakeFlood(const bench::BenchAgent& agent, Shared& shared) {
    while (!shared.stop) {
        try {
            agent.connect();
            ++shared.handshakes;
        } catch (...) {
        }
    }
}

// The phone's pings while the flood processes run; also how many handshakes or sockets they made per second.
struct FloodResult {
    double p50, p99, perSecond;
};

FloodResult pingUnder(RawPeer& phone, Shared& shared, const std::vector<std::function<void()>>& floods) {
    shared.stop = false;
    shared.handshakes = 0;
    shared.idleOpened = 0;
    std::vector<pid_t> children;
    for (const auto& flood : floods) children.push_back(spawn(flood));
    std::this_thread::sleep_for(floodWarmUp);
    long before = shared.handshakes + shared.idleOpened;
    auto started = Clock::now();
    auto [p50, p99] = pingMilliseconds(phone);
    double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    long made = shared.handshakes + shared.idleOpened - before;
    shared.stop = true;
    for (pid_t child : children) ::waitpid(child, nullptr, 0);
    return {p50, p99, made / seconds};
}

}  // namespace

int main() {
    raiseDescriptorLimit();
    Shared& shared = *sharedCounters();
    bench::BenchAgent agent;

    std::printf("%-56s %s\n", "measure (loopback)", "result");
    LoadResult load = runLoad(agent);
    std::printf("%-56s %d x %d in %.2f s\n", "paired sessions x requests", sessionCount, requestsPerSession,
                load.seconds);
    std::printf("%-56s %ld / %ld\n", "responses lost / duplicated", load.lost, load.duplicated);
    std::printf("%-56s %.1f\n", "agent resident memory afterwards (MiB)", agent.residentKiB() / 1024.0);

    auto phone = agent.connect();
    auto [p50, p99] = pingMilliseconds(*phone);
    std::printf("%-56s %.3f / %.3f\n", "phone ping p50 / p99 (ms), alone", p50, p99);
    auto idle = pingUnder(*phone, shared, {[&] { idleFlood(agent.port(), shared); }});
    std::printf("%-56s %.3f / %.3f  (%.0f sockets opened/s)\n", "phone ping p50 / p99 (ms), idle-socket flood",
                idle.p50, idle.p99, idle.perSecond);
    std::vector<std::function<void()>> handshakers(handshakeFloodProcesses, [&] { handshakeFlood(agent, shared); });
    auto handshakes = pingUnder(*phone, shared, handshakers);
    std::printf("%-56s %.3f / %.3f  (%.0f handshakes/s)\n", "phone ping p50 / p99 (ms), handshake flood (2 processes)",
                handshakes.p50, handshakes.p99, handshakes.perSecond);
    std::printf("%-56s %.1f\n", "agent resident memory at the end (MiB)", agent.residentKiB() / 1024.0);

    phone.reset();
    return load.lost == 0 && load.duplicated == 0 ? 0 : 1;
}
