#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "client/DevicePairing.h"
#include "client/KxClient.h"
#include "protocol/Base64URL.h"
#include "tests/client/FakeAgent.h"

using namespace kx;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 10s;  // bounds a hang only

PairingPayload codeFor(const test::FakeAgent& agent, std::string token = "token-0123456789") {
    return {1, "127.0.0.1", agent.port(), agent.fingerprint(), std::move(token), "studio"};
}

ClientIdentity phone() {
    return {"Test phone", "kx-tests", "TestOS 1"};
}

std::unique_ptr<KxClient> pairAndConnect(test::FakeAgent& agent) {
    auto state = pairWithCode(codeFor(agent), phone());
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
    test::FakeAgent agent;
    auto state = pairWithCode(codeFor(agent), phone());
    EXPECT_EQ(state.deviceId, "d_1");
    EXPECT_EQ(state.agentFingerprint, agent.fingerprint());
    EXPECT_EQ(state.agentName, "studio");
    EXPECT_EQ(state.port, agent.port());

    auto request = agent.lastPairingRequest().value();
    EXPECT_EQ(request["token"], JSONValue("token-0123456789"));
    EXPECT_EQ(request["devicePubKey"], JSONValue(base64URLEncode(SigningKey::fromSeed(state.deviceKey).publicKey)));
    EXPECT_EQ(request["client"], JSONValue(JSONObject{{"name", "Test phone"}, {"os", "TestOS 1"}}));

    auto client = KxClient::connect(ConnectOptions::forDevice(state, phone()));
    EXPECT_EQ(agent.authenticatedConnections(), 1) << "the agent verified the device signature";
    EXPECT_EQ(agent.lastClient(), phone());
    EXPECT_EQ(client->auth().agent.name, "studio");
    EXPECT_EQ(client->auth().caps, (std::vector<std::string>{"agent.update", "input.key"}));
    EXPECT_EQ(client->auth().fingerprint, agent.fingerprint());
    EXPECT_EQ(client->call("echo", {{"x", 1}}), (JSONObject{{"x", 1}}));
}

TEST(KxClient, RefusesAnAgentThatIsNotThePinnedOne) {
    test::FakeAgent agent;
    auto code = codeFor(agent);
    code.fp = AgentIdentity::generate().fingerprint();
    auto mismatch = thrownBy<FingerprintMismatch>([&] { pairWithCode(code, phone()); });
    EXPECT_EQ(mismatch.actual, agent.fingerprint());
    EXPECT_FALSE(agent.lastPairingRequest()) << "the token must not reach an unverified agent";

    test::FakeAgent forger({.signWith = AgentIdentity::generate()});
    thrownBy<BadAgentSignature>([&] { pairWithCode(codeFor(forger), phone()); });
    // Presenting a stolen public key does not help without its private key.
    test::FakeAgent impostor({.presentKey = forger.identity()});
    auto stolen = codeFor(impostor);
    stolen.fp = forger.fingerprint();
    thrownBy<BadAgentSignature>([&] { pairWithCode(stolen, phone()); });
}

TEST(KxClient, ReportsPairingRefusalsWithTheAgentsError) {
    test::FakeAgent agent;
    auto refused = thrownBy<PairingRefused>([&] { pairWithCode(codeFor(agent, "wrong-token"), phone()); });
    ASSERT_TRUE(refused.agentError);
    EXPECT_EQ(refused.agentError->code, ErrorCode::unauthorized);
    EXPECT_EQ(refused.agentError->msg, "Pairing refused");

    test::FakeAgent closed({.pairingOpen = false});
    auto notOpen = thrownBy<PairingRefused>([&] { pairWithCode(codeFor(closed), phone()); });
    EXPECT_FALSE(notOpen.agentError);
}

TEST(KxClient, AnUnknownDeviceIsToldItWasDropped) {
    test::FakeAgent agent;
    auto state = pairWithCode(codeFor(agent), phone());
    state.deviceId = "d_unknown";
    thrownBy<ConnectionClosed>([&] { KxClient::connect(ConnectOptions::forDevice(state, phone())); });
}

TEST(KxClient, MatchesOutOfOrderResponsesFromManyThreads) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 8;
    test::FakeAgent agent;
    auto client = pairAndConnect(agent);
    std::atomic<int> matched{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                std::vector<std::pair<int, PendingCall>> inFlight;
                for (int i = 0; i < kPerThread; ++i) {
                    int n = t * kPerThread + i;
                    // Earlier requests wait longer, so answers arrive in reverse.
                    inFlight.emplace_back(n, client->callAsync("echo", {{"n", n}, {"delayMs", (kPerThread - i) * 5}}));
                }
                for (auto& [n, future] : inFlight)
                    if (future.get().at("n") == JSONValue(n)) ++matched;
            });
    }
    EXPECT_EQ(matched, kThreads * kPerThread);
}

TEST(KxClient, ErrorResponsesAndTimeoutsLeaveTheConnectionUsable) {
    test::FakeAgent agent;
    auto client = pairAndConnect(agent);
    auto error = thrownBy<ErrorResponse>([&] { client->call("fail"); });
    EXPECT_EQ(error.error.code, ErrorCode::targetNotFound);
    EXPECT_STREQ(error.what(), "error target_not_found: No such thing");

    thrownBy<RequestTimeout>([&] { client->call("silence", {}, 50ms); });
    EXPECT_TRUE(client->isOpen());
    EXPECT_EQ(client->call("echo", {{"after", true}}), (JSONObject{{"after", true}}));
}

TEST(KxClient, DeliversEventsToTheQueueOrTheHandler) {
    test::FakeAgent agent;
    auto client = pairAndConnect(agent);
    EXPECT_FALSE(client->nextEvent(10ms));
    agent.push("system.state", {{"volume", 0.5}});
    auto event = client->nextEvent(kPatience);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->m, "system.state");
    EXPECT_EQ(event->seq, 1u);
    EXPECT_EQ(event->p, (JSONObject{{"volume", 0.5}}));

    std::promise<std::string> seen;
    client->setEventHandler([&](const Envelope& e) { seen.set_value(*e.m); });
    agent.push("device.ring", {});
    auto future = seen.get_future();
    ASSERT_EQ(future.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(future.get(), "device.ring");
}

TEST(KxClient, AClosedConnectionFailsPendingAndLaterRequests) {
    test::FakeAgent agent;
    auto client = pairAndConnect(agent);
    auto pending = client->callAsync("silence");
    client->call("echo");  // the silent request is surely on the wire
    agent.dropConnections();
    thrownBy<ConnectionClosed>([&] { pending.get(); });
    thrownBy<ConnectionClosed>([&] { client->nextEvent(kPatience); });
    EXPECT_FALSE(client->isOpen());
    thrownBy<ConnectionClosed>([&] { client->call("echo"); });
    client->close();  // idempotent
}

TEST(KxClient, ReportsAnUnreachableOrSilentAgent) {
    std::uint16_t closedPort = 0;
    {
        test::FakeAgent gone;
        closedPort = gone.port();
    }
    ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = closedPort;
    options.pinnedFingerprint = "x";
    thrownBy<AgentUnreachable>([&] { KxClient::connect(options); });

    test::FakeAgent silent({.silent = true});
    options.port = silent.port();
    options.timeout = 100ms;
    thrownBy<AgentUnreachable>([&] { KxClient::connect(options); });
}
