#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "agent/pairing/PairingService.h"
#include "agent/transport/HandshakeAdmission.h"
#include "protocol/Base64URL.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/IdleSockets.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/e2e/support/RawPeer.h"
#include "tests/support/ScopedVariable.h"

using namespace kx;
using namespace kx::e2e;

namespace {

constexpr auto closeWait = TransportServer::pairingGrace + std::chrono::seconds(5);

JSONObject pairParams(const std::string& token) {
    return {{"token", token},
            {"devicePubKey", base64URLEncode(SigningKey::generate().publicKey)},
            {"client", JSONObject{{"name", "Pixel"}, {"os", "android 15"}}}};
}

std::unique_ptr<RawPeer> pairingSession(std::uint16_t port) {
    auto peer = std::make_unique<RawPeer>(port);
    auto reply = peer->handshake();
    if (!reply || reply->ok != true) throw std::runtime_error("pairing-mode handshake refused");
    return peer;
}

bool answersPing(RawPeer& peer) {
    auto reply = peer.call("agent.ping");
    return reply && reply->ok == true;
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
         [](InProcessAgent&, RawPeer& session, const std::string& token) {
             auto reply = (session.sendRequest("1", "pair.begin", pairParams(token)), session.readEnvelope());
             ASSERT_TRUE(reply.has_value());
             EXPECT_EQ(reply->ok, true);
         }},
        {"redeemed by another phone", std::nullopt,
         [](InProcessAgent& agent, RawPeer&, const std::string& token) {
             auto other = pairingSession(agent.port());
             auto reply = other->call("pair.begin", pairParams(token));
             ASSERT_TRUE(reply.has_value());
             EXPECT_EQ(reply->ok, true);
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
        r.paired = std::make_unique<RawPeer>(r.agent->port());
        ASSERT_TRUE(r.paired->handshake(device.id, device.key).has_value());
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
        EXPECT_TRUE(answersPing(*running[i].paired));  // a paired phone's session is not the window's
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
    for (std::size_t i = 2; i < sessions.size(); ++i) EXPECT_TRUE(answersPing(*sessions[i])) << "session " << i;
}

// Idle sockets from another address churn among themselves while the phone gets in, every time.
TEST(ConnectionLimits, PairedPhoneConnectsWhileIdleSocketsFloodTheAgent) {
    constexpr int phoneRounds = 20;
    constexpr std::size_t floodSockets = 3000;
    InProcessAgent agent;
    TestDevice device = agent.addDevice();
    IdleSockets idle;
    std::atomic<bool> flooding = true;
    std::thread flood([&] {
        while (flooding && idle.size() < floodSockets) idle.open(agent.port(), 50);
    });
    int connected = 0;
    for (int round = 0; round < phoneRounds; ++round) {
        RawPeer phone(agent.port());
        auto reply = phone.handshake(device.id, device.key);
        if (reply && reply->ok == true && answersPing(phone)) ++connected;
    }
    flooding = false;
    flood.join();
    EXPECT_EQ(connected, phoneRounds);
    EXPECT_GT(idle.size(), HandshakeAdmission::defaultLimit);
    // The phone's closed sessions leave on their own time; the idle ones stay bounded.
    EXPECT_TRUE(eventually(
        [&] { return agent.service().transport().connectionCount() <= HandshakeAdmission::defaultPerSource; }));
}
