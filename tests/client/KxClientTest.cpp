#include <gtest/gtest.h>

#include <asio.hpp>
#include <future>
#include <thread>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "client/DevicePairing.h"
#include "client/KxClient.h"
#include "protocol/Base64URL.h"
#include "protocol/FrameAccumulator.h"
#include "tests/client/EchoAgent.h"

using namespace kx;
using kx::test::EchoAgent;
using kx::test::phone;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 10s;  // bounds a hang only

std::unique_ptr<KxClient> connectAs(const ClientState& state) {
    return KxClient::connect(ConnectOptions::forDevice(state, phone()));
}

// What `action` threw as Error; a test failure (and a default Error) when it threw nothing.
template <typename Error>
std::optional<Error> thrownBy(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "nothing thrown";
    return std::nullopt;
}

}  // namespace

// What the saved state holds is proven by every end-to-end test, which pairs and reconnects with it.
TEST(KxClient, PairsWithACodeThenReconnectsAsTheDevice) {
    EchoAgent agent;
    auto state = pairWithCode(agent.code(), phone());
    EXPECT_EQ(agent.service().registry().device(state.deviceId)->platform, "TestOS 1");
    EXPECT_EQ(connectAs(state)->call("echo", {{"x", 1}}), (JSONObject{{"x", 1}}));

    state.deviceId = "d_unknown";  // a device the agent dropped is told so
    EXPECT_THROW(connectAs(state), ConnectionClosed);
}

TEST(KxClient, PairingFailsOnAnotherAgentAWrongTokenOrAClosedCode) {
    EchoAgent agent;
    auto code = agent.code();
    auto impostor = code;
    impostor.fp = AgentIdentity::generate().fingerprint();
    auto mismatch = thrownBy<FingerprintMismatch>([&] { pairWithCode(impostor, phone()); });
    EXPECT_EQ(mismatch->actual, agent.service().identity().fingerprint());
    EXPECT_TRUE(agent.service().registry().all().empty()) << "the token must not reach an unverified agent";
    EXPECT_TRUE(agent.service().pairing().isPairing());

    code.token = "wrong-token";
    auto refused = thrownBy<PairingRefused>([&] { pairWithCode(code, phone()); });
    ASSERT_TRUE(refused && refused->agentError);
    EXPECT_EQ(*refused->agentError, WireError(ErrorCode::unauthorized, "Pairing refused"));
    agent.service().pairing().cancel();
    auto notOpen = thrownBy<PairingRefused>([&] { pairWithCode(code, phone()); });
    EXPECT_FALSE(notOpen && notOpen->agentError);
}

// The agent's reply is checked before anything else is believed: a forged signature and a
// stolen public key without its private key are both refused.
TEST(KxClientHandshake, RefusesAReplyNotSignedByTheKeyItPresents) {
    const auto genuine = AgentIdentity::generate();
    const auto forger = AgentIdentity::generate();
    struct Case {
        const char* name;
        const AgentIdentity& presented;
        const AgentIdentity& signer;
        bool accepted;
    };
    for (const Case& c : {Case{"genuine", genuine, genuine, true}, Case{"forged signature", genuine, forger, false},
                          Case{"stolen key", forger, genuine, false}}) {
        SCOPED_TRACE(c.name);
        ClientHandshake client(phone(), std::nullopt, c.presented.fingerprint());
        Handshake agentSide(HandshakeRole::agent);
        SecHello hello{agentSide.ephemeralPublicBase64URL(), agentSide.nonceBase64URL(), true, {1}};
        auto answer = client.answerHello(asBytes(hello.encode()));
        auto auth = SecAuth::decode(asText(ByteView(answer.secAuthFrame).subspan(FrameAccumulator::prefixLength)));
        auto transcript = agentSide.complete(auth.ephPub, auth.nonce, auth.protocolVersions).transcript;
        auto reply = Envelope::success("sec.auth",
                                       JSONObject{{"agentPubKey", base64URLEncode(c.presented.signingKey().publicKey)},
                                                  {"sig", base64URLEncode(c.signer.sign(transcript))},
                                                  {"agent", AgentDescriptor{}.toJSON()},
                                                  {"caps", JSONArray{}}});
        if (c.accepted)
            EXPECT_EQ(client.acceptReply(reply).fingerprint, genuine.fingerprint());
        else
            EXPECT_THROW(client.acceptReply(reply), BadAgentSignature);
    }
}

TEST(KxClient, MatchesOutOfOrderResponsesFromManyThreads) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 8;
    EchoAgent agent;
    auto client = connectAs(pairWithCode(agent.code(), phone()));
    std::atomic<int> matched{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                std::vector<std::pair<int, PendingCall>> inFlight;
                for (int i = 0; i < kPerThread; ++i) {
                    int n = t * kPerThread + i;
                    // Earlier requests wait longer, so answers arrive out of order.
                    inFlight.emplace_back(n, client->callAsync("echo", {{"n", n}, {"delayMs", (kPerThread - i) * 5}}));
                }
                for (auto& [n, future] : inFlight)
                    if (future.get().at("n") == JSONValue(n)) ++matched;
            });
    }
    EXPECT_EQ(matched, kThreads * kPerThread);
}

// Errors and time-outs leave the connection usable; events go to the queue, then the handler;
// closing fails what is pending and what comes later.
TEST(KxClient, ErrorsTimeoutsEventsAndAClosedConnection) {
    EchoAgent agent;
    auto state = pairWithCode(agent.code(), phone());
    auto client = connectAs(state);
    auto error = thrownBy<ErrorResponse>([&] { client->call("fail"); });
    EXPECT_EQ(error->error.code, ErrorCode::targetNotFound);
    EXPECT_THROW(client->call("silence", {}, 50ms), RequestTimeout);
    EXPECT_EQ(client->call("echo", {{"after", true}}), (JSONObject{{"after", true}}));

    EXPECT_FALSE(client->nextEvent(10ms));
    agent.service().transport().broadcast("system.state", {{"volume", 0.5}});
    auto event = client->nextEvent(kPatience);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->m, "system.state");
    EXPECT_EQ(event->p, (JSONObject{{"volume", 0.5}}));
    std::promise<std::string> seen;
    client->setEventHandler([&](const Envelope& e) { seen.set_value(*e.m); });
    agent.service().ringDevices();
    auto future = seen.get_future();
    ASSERT_EQ(future.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(future.get(), "device.ring");

    auto pending = client->callAsync("silence");
    client->call("echo");  // the silent request is surely on the wire
    agent.service().transport().closeConnections(state.deviceId);
    EXPECT_THROW(pending.get(), ConnectionClosed);
    EXPECT_THROW(client->nextEvent(kPatience), ConnectionClosed);
    EXPECT_FALSE(client->isOpen());
    EXPECT_THROW(client->call("echo"), ConnectionClosed);
    client->close();  // idempotent
}

// A closed port is KxctlTest's "cannot reach the agent".
TEST(KxClient, ReportsASilentAgent) {
    asio::io_context io;
    // Listening but never accepting: the connection completes and no hello ever comes.
    asio::ip::tcp::acceptor silent(io, {asio::ip::address_v4::loopback(), 0});
    ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = silent.local_endpoint().port();
    options.pinnedFingerprint = "x";
    options.timeout = 100ms;
    EXPECT_THROW(KxClient::connect(options), AgentUnreachable);
}
