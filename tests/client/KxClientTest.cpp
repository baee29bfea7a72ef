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
#include "tests/support/ClosedPort.h"

using namespace kx;
using kx::test::EchoAgent;
using kx::test::phone;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 10s;  // bounds a hang only

std::unique_ptr<KxClient> pairAndConnect(EchoAgent& agent, ClientState* stored = nullptr) {
    auto state = pairWithCode(agent.code(), phone());
    if (stored) *stored = state;
    return KxClient::connect(ConnectOptions::forDevice(state, phone()));
}

template <typename Error>
Error thrownBy(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error;
    } catch (const std::exception& other) {
        ADD_FAILURE() << "unexpected error: " << other.what();
        throw;
    }
    ADD_FAILURE() << "nothing thrown";
    throw std::logic_error("nothing thrown");
}

}  // namespace

TEST(KxClient, PairsWithACodeThenReconnectsAsTheDevice) {
    EchoAgent agent;
    auto code = agent.code();
    auto state = pairWithCode(code, phone());
    EXPECT_EQ(state.agentFingerprint, agent.service().identity().fingerprint());
    EXPECT_EQ(state.agentName, agent.service().descriptor().name);
    EXPECT_EQ(state.host, "127.0.0.1");
    EXPECT_EQ(state.port, agent.port());

    auto device = agent.service().registry().device(state.deviceId);
    ASSERT_TRUE(device.has_value());
    EXPECT_EQ(device->publicKey, base64URLEncode(SigningKey::fromSeed(state.deviceKey).publicKey));
    EXPECT_EQ(device->name, "Test phone");
    EXPECT_EQ(device->platform, "TestOS 1");

    auto client = KxClient::connect(ConnectOptions::forDevice(state, phone()));
    EXPECT_EQ(client->auth().agent, agent.service().descriptor());
    EXPECT_EQ(client->auth().fingerprint, state.agentFingerprint);
    JSONArray caps;
    for (const auto& cap : client->auth().caps) caps.emplace_back(cap);
    EXPECT_EQ(caps, agent.service().router().capabilityStrings());
    EXPECT_EQ(client->call("echo", {{"x", 1}}), (JSONObject{{"x", 1}}));
}

TEST(KxClient, RefusesAnAgentThatIsNotThePinnedOne) {
    EchoAgent agent;
    auto code = agent.code();
    code.fp = AgentIdentity::generate().fingerprint();
    auto mismatch = thrownBy<FingerprintMismatch>([&] { pairWithCode(code, phone()); });
    EXPECT_EQ(mismatch.actual, agent.service().identity().fingerprint());
    EXPECT_TRUE(agent.service().registry().all().empty()) << "the token must not reach an unverified agent";
    EXPECT_TRUE(agent.service().pairing().isPairing());
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
        JSONObject p{{"agentPubKey", base64URLEncode(c.presented.signingKey().publicKey)},
                     {"sig", base64URLEncode(c.signer.sign(transcript))},
                     {"agent", AgentDescriptor{}.toJSON()},
                     {"caps", JSONArray{}}};
        auto reply = Envelope::success("sec.auth", p);
        if (c.accepted)
            EXPECT_EQ(client.acceptReply(reply).fingerprint, genuine.fingerprint());
        else
            EXPECT_THROW(client.acceptReply(reply), BadAgentSignature);
    }
}

TEST(KxClient, ReportsPairingRefusalsWithTheAgentsError) {
    EchoAgent agent;
    auto code = agent.code();
    code.token = "wrong-token";
    auto refused = thrownBy<PairingRefused>([&] { pairWithCode(code, phone()); });
    ASSERT_TRUE(refused.agentError);
    EXPECT_EQ(refused.agentError->code, ErrorCode::unauthorized);
    EXPECT_EQ(refused.agentError->msg, "Pairing refused");

    agent.service().pairing().cancel();
    auto notOpen = thrownBy<PairingRefused>([&] { pairWithCode(code, phone()); });
    EXPECT_FALSE(notOpen.agentError);
}

TEST(KxClient, AnUnknownDeviceIsToldItWasDropped) {
    EchoAgent agent;
    auto state = pairWithCode(agent.code(), phone());
    state.deviceId = "d_unknown";
    thrownBy<ConnectionClosed>([&] { KxClient::connect(ConnectOptions::forDevice(state, phone())); });
}

TEST(KxClient, MatchesOutOfOrderResponsesFromManyThreads) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 8;
    EchoAgent agent;
    auto client = pairAndConnect(agent);
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

TEST(KxClient, ErrorResponsesAndTimeoutsLeaveTheConnectionUsable) {
    EchoAgent agent;
    auto client = pairAndConnect(agent);
    auto error = thrownBy<ErrorResponse>([&] { client->call("fail"); });
    EXPECT_EQ(error.error.code, ErrorCode::targetNotFound);
    EXPECT_STREQ(error.what(), "error target_not_found: No such thing");

    thrownBy<RequestTimeout>([&] { client->call("silence", {}, 50ms); });
    EXPECT_TRUE(client->isOpen());
    EXPECT_EQ(client->call("echo", {{"after", true}}), (JSONObject{{"after", true}}));
}

TEST(KxClient, DeliversEventsToTheQueueOrTheHandler) {
    EchoAgent agent;
    auto client = pairAndConnect(agent);
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
}

TEST(KxClient, AClosedConnectionFailsPendingAndLaterRequests) {
    EchoAgent agent;
    ClientState state;
    auto client = pairAndConnect(agent, &state);
    auto pending = client->callAsync("silence");
    client->call("echo");  // the silent request is surely on the wire
    agent.service().transport().closeConnections(state.deviceId);
    thrownBy<ConnectionClosed>([&] { pending.get(); });
    thrownBy<ConnectionClosed>([&] { client->nextEvent(kPatience); });
    EXPECT_FALSE(client->isOpen());
    thrownBy<ConnectionClosed>([&] { client->call("echo"); });
    client->close();  // idempotent
}

TEST(KxClient, ReportsAnUnreachableOrSilentAgent) {
    asio::io_context io;
    // Listening but never accepting: the connection completes and no hello ever comes.
    asio::ip::tcp::acceptor silent(io, {asio::ip::address_v4::loopback(), 0});
    ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = kx::testing::closedLoopbackPort();
    options.pinnedFingerprint = "x";
    thrownBy<AgentUnreachable>([&] { KxClient::connect(options); });

    options.port = silent.local_endpoint().port();
    options.timeout = 100ms;
    thrownBy<AgentUnreachable>([&] { KxClient::connect(options); });
}
