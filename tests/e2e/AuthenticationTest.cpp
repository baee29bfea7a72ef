#include <gtest/gtest.h>

#include "agent/pairing/DeviceRegistry.h"
#include "protocol/Base64URL.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/e2e/support/RawPeer.h"

using namespace kx;
using namespace kx::e2e;

namespace {

JSONObject pairParams(const std::string& token, const SigningKey& key) {
    return {{"token", token}, {"devicePubKey", base64URLEncode(key.publicKey)}, {"client", JSONObject{{"name", "P"}}}};
}

void expectError(const std::optional<Envelope>& reply, ErrorCode code, const std::string& message) {
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->e, WireError(code, message)) << reply->encode();
}

}  // namespace

// Pairing and then connecting as the new device is KxClientTest's; here, what a pairing session
// may not do (that it may ping is below).
TEST(Authentication, APairingSessionMayOnlyPairAndIsNotAuthenticatedByIt) {
    InProcessAgent agent;
    EXPECT_FALSE(RawPeer(agent.port()).readHello().pairing);
    PairingPayload code = agent.service().beginPairing("127.0.0.1");

    RawPeer pairing(agent.port());
    auto reply = pairing.handshake();
    ASSERT_TRUE(reply && reply->id == "sec.auth" && reply->ok == true);
    EXPECT_EQ(reply->p->at("protocol"), JSONValue(1));

    // Incomplete requests spend nothing.
    std::string key = base64URLEncode(SigningKey::generate().publicKey);
    for (const JSONObject& params : {
             JSONObject{{"devicePubKey", key}, {"client", JSONObject{{"name", "a"}}}},
             JSONObject{{"token", code.token}, {"client", JSONObject{{"name", "a"}}}},
             JSONObject{{"token", code.token}, {"devicePubKey", key}},
             JSONObject{{"token", code.token}, {"devicePubKey", key}, {"client", JSONObject{{"os", "x"}}}},
             JSONObject{{"token", 7}, {"devicePubKey", key}, {"client", JSONObject{{"name", "a"}}}},
         })
        expectError(pairing.call("pair.begin", params), ErrorCode::invalidParams, "Missing pairing fields");

    auto paired = pairing.call("pair.begin", pairParams(code.token, SigningKey::generate()));
    ASSERT_TRUE(paired && paired->ok == true);
    EXPECT_EQ(paired->p->at("agent"), JSONValue(agent.service().descriptor().toJSON()));
    // A client without an os is stored as "unknown" (KxClientTest sees a given os stored).
    EXPECT_EQ(agent.service().registry().device(paired->p->at("deviceId").asString())->platform, "unknown");
    // Pairing does not authenticate the session that paired, and the code is spent.
    expectError(pairing.call("agent.info"), ErrorCode::unauthorized, "Not authenticated");
    expectError(pairing.call("pair.begin", pairParams(code.token, SigningKey::generate())), ErrorCode::unauthorized,
                "Pairing refused");
}

TEST(Authentication, FailedHandshakesCloseTheConnectionWithoutAWord) {
    InProcessAgent agent;
    TestDevice device = agent.addDevice();
    TestDevice other = agent.addDevice();
    using Answer = std::function<std::string(RawPeer&, const SecHello&)>;
    auto signedAs = [](std::optional<std::string> id, std::optional<SigningKey> key) -> Answer {
        return [=](RawPeer& peer, const SecHello& hello) { return peer.makeAuth(hello, id, key).encode(); };
    };
    const std::pair<const char*, Answer> cases[] = {
        {"unknown device", signedAs("d_nobody", device.key)},
        {"another device's key", signedAs(device.id, other.key)},
        {"no signature", signedAs(device.id, std::nullopt)},
        {"pairing while no code is open", signedAs(std::nullopt, std::nullopt)},
        {"no common protocol version",
         [&](RawPeer& peer, const SecHello& hello) {
             SecAuth auth = peer.makeAuth(hello, device.id, device.key);
             auth.protocolVersions = {2, 3};
             return auth.encode();
         }},
        {"not a SecAuth", [](RawPeer&, const SecHello&) { return std::string("{\"hello\":1}"); }},
    };
    for (const auto& [name, answer] : cases) {
        SCOPED_TRACE(name);
        RawPeer peer(agent.port());
        SecHello hello = peer.readHello();
        peer.sendFrame(asBytes(answer(peer, hello)));
        EXPECT_FALSE(peer.readFrame().has_value());
        EXPECT_TRUE(peer.waitForClose());
    }
    // The agent goes on serving the device that does everything right.
    EXPECT_TRUE(agent.connect(device)->succeeds("agent.info"));
}

// Events reach authenticated sessions only, each with its own sequence; revoking a device closes
// its sessions and no other.
TEST(Events, RingReachesAuthenticatedSessionsAndRevokingClosesOnlyTheDevicesOwn) {
    InProcessAgent agent;
    TestDevice phone = agent.addDevice();
    TestDevice tablet = agent.addDevice();
    auto second = agent.connect(tablet);
    // The earlier session hears one event more, so its numbers run ahead of the later one's (what
    // an event carries is KxClientTest's).
    agent.service().transport().broadcast("system.state", {{"volume", 0.5}});
    ASSERT_TRUE(second->readEnvelope().has_value());

    auto first = agent.connect(phone);
    agent.service().beginPairing("127.0.0.1");
    RawPeer pairing(agent.port());
    ASSERT_TRUE(pairing.handshake());
    auto handshaking = std::make_unique<RawPeer>(agent.port());
    handshaking->readHello();

    EXPECT_EQ(agent.service().ringDevices(), 4u);
    for (auto [peer, seq] : {std::pair{first.get(), 1u}, std::pair{second.get(), 2u}}) {
        auto ring = peer->readEnvelope();
        ASSERT_TRUE(ring.has_value());
        EXPECT_EQ(ring->m, "device.ring");
        EXPECT_EQ(ring->seq, seq);
        EXPECT_GT(ring->p->at("startedAt").asNumber(), 1.6e12);
    }
    // The pairing phone heard nothing: the first thing it reads is the answer to its own ping.
    auto ping = pairing.call("agent.ping");
    ASSERT_TRUE(ping.has_value());
    EXPECT_EQ(ping->t, MessageKind::response);
    EXPECT_FALSE(pairing.readEnvelope(std::chrono::milliseconds(100)).has_value());

    handshaking.reset();
    EXPECT_TRUE(agent.service().registry().revoke(phone.id));
    EXPECT_TRUE(first->waitForClose());
    EXPECT_TRUE(second->succeeds("agent.info"));
    EXPECT_TRUE(pairing.succeeds("agent.ping"));
    RawPeer again(agent.port());
    EXPECT_FALSE(again.handshake(phone.id, phone.key).has_value());
}
