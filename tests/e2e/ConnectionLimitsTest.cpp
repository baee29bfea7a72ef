#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "agent/pairing/PairingService.h"
#include "agent/transport/HandshakeAdmission.h"
#include "agent/transport/TransportServer.h"
#include "protocol/Base64URL.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/IdleSockets.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/e2e/support/RawPeer.h"
#include "tests/support/ScopedVariable.h"

using namespace kx;
using namespace kx::e2e;
using Clock = std::chrono::steady_clock;

// Hostile or careless peers: pairing sessions outliving their window, floods of idle sockets or of
// requests never read, more sockets than descriptors, guessed pairing codes.

namespace {

constexpr auto closeWait = TransportServer::pairingGrace + std::chrono::seconds(5);

JSONObject pairParams(const std::string& token) {
    return {{"token", token},
            {"devicePubKey", base64URLEncode(SigningKey::generate().publicKey)},
            {"client", JSONObject{{"name", "Pixel"}, {"os", "android 15"}}}};
}

std::unique_ptr<RawPeer> pairedSession(const AgentProcess& agent) {
    ClientState state = pairClient(agent);
    auto peer = std::make_unique<RawPeer>(agent.port());
    if (!peer->handshake(state.deviceId, SigningKey::fromSeed(state.deviceKey)))
        throw std::runtime_error("handshake refused");
    return peer;
}

// A value from /proc/PID/FILE: the first number on the line matching `row`.
std::optional<long> procValue(pid_t pid, const char* file, const char* row) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::regex pattern(row);
    std::smatch match;
    for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, match, pattern)) return std::stol(match[1].str());
    return std::nullopt;
}

std::unique_ptr<RawPeer> pairingSession(std::uint16_t port) {
    auto peer = std::make_unique<RawPeer>(port);
    auto reply = peer->handshake();
    if (!reply || reply->ok != true) throw std::runtime_error("pairing-mode handshake refused");
    return peer;
}

// Sends pair.begin with `token` for a fresh key: whether its own answer says yes.
bool redeems(RawPeer& peer, const std::string& token) {
    peer.sendRequest("redeem", "pair.begin", pairParams(token));
    auto reply = peer.readEnvelope();
    return reply && reply->id == "redeem" && reply->ok == true;
}

struct WindowEnd {
    const char* name;
    std::optional<std::string> lifetime;  // KX_PAIRING_LIFETIME while the code is issued
    std::function<void(InProcessAgent&, RawPeer& session, const std::string& token)> end;
};

}  // namespace

TEST(ConnectionLimits, PairingSessionsCloseOnceTheirPairingWindowEnds) {
    const std::vector<WindowEnd> cases = {
        {"redeemed on the session itself, whose answer still arrives", std::nullopt,
         [](InProcessAgent&, RawPeer& session, auto& token) { EXPECT_TRUE(redeems(session, token)); }},
        {"redeemed by another phone", std::nullopt,
         [](InProcessAgent& agent, RawPeer&, auto& token) {
             EXPECT_TRUE(redeems(*pairingSession(agent.port()), token));
         }},
        {"cancelled", std::nullopt, [](InProcessAgent& agent, RawPeer&, auto&) { agent.service().pairing().cancel(); }},
        {"replaced by a new code", std::nullopt,
         [](InProcessAgent& agent, RawPeer&, auto&) { agent.service().beginPairing("127.0.0.1"); }},
        {"expired", "1", [](InProcessAgent&, RawPeer&, auto&) {}},
    };
    // Every case runs beside the others, so that their grace periods overlap.
    struct Running {
        std::unique_ptr<InProcessAgent> agent = std::make_unique<InProcessAgent>();
        std::unique_ptr<RawPeer> paired;
        std::unique_ptr<RawPeer> session;
    };
    std::vector<Running> running(cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        Running& r = running[i];
        TestDevice device = r.agent->addDevice();
        r.paired = r.agent->connect(device);
        std::string token;
        {
            kx::testing::ScopedVariable lifetime(PairingService::lifetimeVariable, cases[i].lifetime);
            token = r.agent->service().beginPairing("127.0.0.1").token;
        }
        r.session = pairingSession(r.agent->port());
        cases[i].end(*r.agent, *r.session, token);
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_TRUE(running[i].session->waitForClose(closeWait));
        EXPECT_TRUE(running[i].paired->succeeds("agent.ping"));  // a paired phone's session is not the window's
    }
}

TEST(ConnectionLimits, ANewPairingSessionClosesTheOldestOverTheLimit) {
    InProcessAgent agent;
    agent.service().beginPairing("127.0.0.1");
    std::vector<std::unique_ptr<RawPeer>> sessions;
    for (std::size_t i = 0; i < TransportServer::maxPairingSessions + 2; ++i)
        sessions.push_back(pairingSession(agent.port()));
    EXPECT_TRUE(sessions[0]->waitForClose());
    EXPECT_TRUE(sessions[1]->waitForClose());
    for (std::size_t i = 2; i < sessions.size(); ++i)
        EXPECT_TRUE(sessions[i]->succeeds("agent.ping")) << "session " << i;
}

// Idle sockets from another address churn among themselves while the phone gets in, every time.
TEST(ConnectionLimits, PairedPhoneConnectsWhileIdleSocketsFloodTheAgent) {
    constexpr int phoneRounds = 20;
    constexpr std::size_t floodSockets = 3000;
    InProcessAgent agent;
    TestDevice device = agent.addDevice();
    IdleSockets idle;
    // Over the admission limit before the phone's first round, however fast the rounds go.
    idle.open(agent.port(), HandshakeAdmission::defaultLimit + 1);
    // Stopped and joined however the rounds end: a round that throws (no hello in time) fails the
    // test instead of ending the process.
    std::jthread flood([&](std::stop_token stop) {
        while (!stop.stop_requested() && idle.size() < floodSockets) idle.open(agent.port(), 50);
    });
    int connected = 0;
    for (int round = 0; round < phoneRounds; ++round) {
        RawPeer phone(agent.port());
        // Behind the flood in the accept queue: as long as the agent gives a handshake.
        auto reply = phone.handshake(device.id, device.key, TransportServer::defaultHandshakeTimeout);
        if (reply && reply->ok == true && phone.succeeds("agent.ping")) ++connected;
    }
    flood.request_stop();
    flood.join();
    EXPECT_EQ(connected, phoneRounds);
    EXPECT_GT(idle.size(), HandshakeAdmission::defaultLimit);
    // The phone's closed sessions leave on their own time; the idle ones stay bounded.
    EXPECT_TRUE(eventually(
        [&] { return agent.service().transport().connectionCount() <= HandshakeAdmission::defaultPerSource; }));
}

// More idle sockets than the agent has descriptors: a paired phone still gets in and is answered.
TEST(ConnectionLimits, PairedPhoneGetsInWhileIdleSocketsOutnumberTheDescriptors) {
    constexpr std::size_t idleCount = 1000;
    const std::vector<std::pair<const char*, std::pair<unsigned long, unsigned long>>> cases = {
        {"soft limit below the hard one is raised", {256, 4096}},
        // The agent uses about 15 descriptors of its own: the idle sockets would run it out.
        {"at a hard limit, waiting connections give way", {40, 40}},
    };
    for (const auto& [name, limit] : cases) {
        SCOPED_TRACE(name);
        AgentProcess agent({.descriptorLimit = limit});
        EXPECT_EQ(procValue(agent.pid(), "limits", R"(^Max open files\s+([0-9]+))"), long(limit.second));
        ClientState phone = pairClient(agent);
        IdleSockets idle;
        ASSERT_EQ(idle.open(agent.port(), idleCount), idleCount);
        // The phone's connection waits behind the idle ones in the agent's accept queue: it is given
        // as long as the agent gives a handshake, not a phone's usual wait, which a sanitizer build
        // on a busy machine can spend on the flood alone.
        auto connect = ConnectOptions::forDevice(phone, testPhone());
        connect.timeout = TransportServer::defaultHandshakeTimeout;
        try {
            EXPECT_TRUE(KxClient::connect(connect)->call("agent.ping", {}, std::chrono::seconds(10)).count("t"));
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what() << "\nagent's output:\n" << agent.errorOutput();
        }
    }
}

// The session's limits (64 requests, 4 MiB queued, the frames of one read turn) bound the agent's growth
// to this with the allocator's slack; without them it grows past it within the flood. Sanitizers keep
// freed memory and shadow every byte: resident memory says nothing under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::optional<long> kGrowthBoundKiB;
#else
constexpr std::optional<long> kGrowthBoundKiB = 16 * 1024;
#endif

TEST(ConnectionLimits, APhoneThatNeverReadsIsNoLongerReadAndHoldsBoundedMemoryWhileAnotherIsAnswered) {
    AgentProcess agent;
    auto flooder = pairedSession(agent);
    auto quiet = pairedSession(agent);
    ASSERT_TRUE(quiet->call("agent.ping"));
    auto resident = [&] { return procValue(agent.pid(), "status", R"(^VmRSS:\s+([0-9]+))").value_or(-1); };
    const long before = resident();
    ASSERT_GT(before, 0);

    // Floods until the agent takes nothing for a second, or 30 seconds at most.
    std::atomic<bool> floodDone{false};
    bool stoppedBeingRead = false;
    std::thread flood([&] {
        auto deadline = Clock::now() + std::chrono::seconds(30);
        std::uint64_t next = 0;
        Bytes batch;
        while (Clock::now() < deadline && !stoppedBeingRead) {
            batch.clear();
            for (int i = 0; i < 1000; ++i) flooder->appendRequest(batch, "f" + std::to_string(next++), "agent.info");
            stoppedBeingRead = flooder->sendWhileTaken(batch, std::chrono::seconds(1)) < batch.size();
        }
        floodDone = true;
    });
    long peak = before;
    int unanswered = 0;
    while (!floodDone) {
        if (!quiet->call("agent.ping")) ++unanswered;
        peak = std::max(peak, resident());
    }
    flood.join();
    peak = std::max(peak, resident());
    EXPECT_TRUE(stoppedBeingRead);
    EXPECT_EQ(unanswered, 0);
    RecordProperty("residentGrowthKiB", std::to_string(peak - before));
    if (kGrowthBoundKiB) {
        EXPECT_LT(peak - before, *kGrowthBoundKiB) << "from " << before << " KiB to " << peak << " KiB";
    }
}

// Wrong codes are refused and reported, a line a second at most, while the right one still pairs.
TEST(ConnectionLimits, WrongPairingCodesAreLoggedWithTheAddressAtMostOnceASecond) {
    const std::string report = "refused a pairing attempt from 127.0.0.1";
    AgentProcess agent;
    PairingPayload code = agent.pairingCode();
    RawPeer guesser(agent.port());
    ASSERT_TRUE(guesser.handshake().has_value());
    JSONObject params = pairParams("");
    auto started = Clock::now();
    for (int i = 0; i < 300; ++i) {
        params["token"] = base64URLEncode(Bytes(code.token.size() * 3 / 4, static_cast<std::uint8_t>(i)));
        auto reply = guesser.call("pair.begin", params);
        ASSERT_TRUE(reply.has_value());
        ASSERT_EQ(reply->ok, false);
    }
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count();
    ASSERT_TRUE(agent.waitForErrorOutput(report));
    std::size_t lines = 0;
    const std::string output = agent.errorOutput();
    for (auto at = output.find(report); at != std::string::npos; at = output.find(report, at + 1)) ++lines;
    EXPECT_LE(lines, static_cast<std::size_t>(seconds) + 1);

    EXPECT_TRUE(redeems(guesser, code.token));
}
