#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/RawPeer.h"

using namespace kx;
using namespace kx::e2e;
using Clock = std::chrono::steady_clock;

namespace {

// The flood goes on until the agent stops reading the phone, or this long at most.
constexpr auto kFloodLimit = std::chrono::seconds(30);
// Taking nothing for this long means the agent has stopped reading the flooding phone.
constexpr auto kNotTaken = std::chrono::seconds(1);
constexpr int kBatch = 1000;
// The session's limits (64 requests, 4 MiB queued, the frames of one read turn) with the
// allocator's slack; without them the agent grows past this within the flood.
constexpr long kGrowthBoundKiB = 16 * 1024;
// Sanitizers keep freed memory and shadow every byte: resident memory says nothing under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMeasuresMemory = false;
#else
constexpr bool kMeasuresMemory = true;
#endif

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

std::unique_ptr<RawPeer> connectPeer(const AgentProcess& agent) {
    ClientState state = pairClient(agent);
    auto peer = std::make_unique<RawPeer>(agent.port());
    if (!peer->handshake(state.deviceId, SigningKey::fromSeed(state.deviceKey)))
        throw std::runtime_error("handshake refused");
    return peer;
}

}  // namespace

TEST(Flood, APhoneThatNeverReadsHoldsBoundedMemoryWhileAnotherPhoneIsAnswered) {
    AgentProcess agent;
    auto flooder = connectPeer(agent);
    auto quiet = connectPeer(agent);
    ASSERT_TRUE(quiet->call("agent.ping"));
    const long before = residentKiB(agent.pid());
    ASSERT_GT(before, 0);

    std::atomic<bool> floodDone{false};
    bool stoppedBeingRead = false;
    std::thread flood([&] {
        auto deadline = Clock::now() + kFloodLimit;
        std::uint64_t next = 0;
        Bytes batch;
        while (Clock::now() < deadline && !stoppedBeingRead) {
            batch.clear();
            for (int i = 0; i < kBatch; ++i) {
                Bytes frame = flooder->channel()->seal(
                    asBytes(Envelope::request("f" + std::to_string(next++), "agent.info").encode()));
                batch.insert(batch.end(), frame.begin(), frame.end());
            }
            stoppedBeingRead = flooder->sendWhileTaken(batch, kNotTaken) < batch.size();
        }
        floodDone = true;
    });

    long peak = before;
    int unanswered = 0;
    std::vector<long> roundTrips;  // microseconds, recorded for the report only
    while (!floodDone) {
        auto sent = Clock::now();
        if (!quiet->call("agent.ping")) ++unanswered;
        roundTrips.push_back(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent).count());
        peak = std::max(peak, residentKiB(agent.pid()));
    }
    flood.join();
    peak = std::max(peak, residentKiB(agent.pid()));
    EXPECT_TRUE(stoppedBeingRead);
    EXPECT_EQ(unanswered, 0);
    RecordProperty("residentGrowthKiB", std::to_string(peak - before));
    std::sort(roundTrips.begin(), roundTrips.end());
    if (!roundTrips.empty())
        RecordProperty("quietPingMedianMicroseconds", std::to_string(roundTrips[roundTrips.size() / 2]));
    if (kMeasuresMemory) {
        EXPECT_LT(peak - before, kGrowthBoundKiB) << "from " << before << " KiB to " << peak << " KiB";
    }
}
