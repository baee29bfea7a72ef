#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "protocol/Base64URL.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/e2e/support/RawPeer.h"
#include "tests/support/ScopedVariable.h"

using namespace kx;
using namespace kx::e2e;

namespace {

JSONObject pairParams(const std::string& token, const SigningKey& key) {
    return {{"token", token},
            {"devicePubKey", base64URLEncode(key.publicKey)},
            {"client", JSONObject{{"name", "Pixel"}, {"os", "android 15"}}}};
}

void expectError(const std::optional<Envelope>& reply, ErrorCode code, const std::string& message) {
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->ok, false);
    ASSERT_TRUE(reply->e.has_value());
    EXPECT_EQ(reply->e->code, code);
    EXPECT_EQ(reply->e->msg, message);
}

}  // namespace

TEST(Authentication, PhonePairsThenReconnectsAsItsDevice) {
    InProcessAgent agent;
    {
        RawPeer early(agent.port());
        EXPECT_FALSE(early.readHello().pairing);
    }
    PairingPayload code = agent.service().beginPairing("127.0.0.1");
    EXPECT_EQ(code.port, agent.port());

    RawPeer pairing(agent.port());
    auto reply = pairing.handshake();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->id, "sec.auth");
    EXPECT_EQ(reply->ok, true);
    const JSONObject& p = *reply->p;
    auto agentKey = base64URLDecode(p.at("agentPubKey").asString());
    ASSERT_TRUE(agentKey.has_value());
    EXPECT_EQ(KxSec::fingerprint(*agentKey), code.fp);
    auto agentSignature = base64URLDecode(p.at("sig").asString());
    ASSERT_TRUE(agentSignature.has_value());
    EXPECT_TRUE(KxSec::verify(*agentSignature, pairing.transcript(), *agentKey));
    EXPECT_EQ(p.at("agent"), JSONValue(agent.service().descriptor().toJSON()));
    EXPECT_EQ(p.at("agent").asObject().at("name"), JSONValue("test-host"));
    EXPECT_EQ(p.at("protocol"), JSONValue(1));

    // A phone that is pairing may ping but not ask for more.
    auto ping = pairing.call("agent.ping");
    ASSERT_TRUE(ping && ping->ok == true);
    EXPECT_TRUE(ping->p->at("t").isNumber());
    expectError(pairing.call("agent.info"), ErrorCode::unauthorized, "Not authenticated");

    SigningKey phoneKey = SigningKey::generate();
    auto paired = pairing.call("pair.begin", pairParams(code.token, phoneKey));
    ASSERT_TRUE(paired && paired->ok == true);
    std::string deviceID = paired->p->at("deviceId").asString();
    EXPECT_EQ(deviceID.rfind("d_", 0), 0u);
    EXPECT_EQ(paired->p->at("agent"), JSONValue(agent.service().descriptor().toJSON()));
    // Pairing does not authenticate the session that paired.
    expectError(pairing.call("agent.info"), ErrorCode::unauthorized, "Not authenticated");
    // The code is spent.
    expectError(pairing.call("pair.begin", pairParams(code.token, SigningKey::generate())), ErrorCode::unauthorized,
                "Pairing refused");
    EXPECT_EQ(agent.service().registry().device(deviceID)->platform, "android 15");

    RawPeer device(agent.port());
    auto deviceReply = device.handshake(deviceID, phoneKey);
    ASSERT_TRUE(deviceReply && deviceReply->ok == true);
    auto info = device.call("agent.info");
    ASSERT_TRUE(info && info->ok == true);
    EXPECT_EQ(info->p->at("name"), JSONValue("test-host"));
    EXPECT_EQ(info->p->at("version"), JSONValue("1.2.3"));
    EXPECT_EQ(info->p->at("platform"), JSONValue("linux"));
    EXPECT_EQ(info->p->at("os"), JSONValue("Test OS 1"));
    EXPECT_TRUE(info->p->at("caps").isArray());
    EXPECT_TRUE(eventually([&] { return agent.service().registry().device(deviceID)->lastSeen.has_value(); }));
}

TEST(Authentication, ExpiredCodeRefusesPairingAndNewPairingConnections) {
    kx::testing::ScopedVariable shortLived(PairingService::lifetimeVariable, "0.3");
    InProcessAgent agent;
    PairingPayload code = agent.service().beginPairing("127.0.0.1");
    RawPeer pairing(agent.port());
    ASSERT_TRUE(pairing.handshake().has_value());

    ASSERT_TRUE(eventually([&] { return !agent.service().pairing().isPairing(); }));
    expectError(pairing.call("pair.begin", pairParams(code.token, SigningKey::generate())), ErrorCode::unauthorized,
                "Pairing refused");
    RawPeer late(agent.port());
    EXPECT_FALSE(late.handshake().has_value());
    EXPECT_TRUE(late.waitForClose());
}

TEST(Authentication, PairBeginNeedsEveryField) {
    InProcessAgent agent;
    PairingPayload code = agent.service().beginPairing("127.0.0.1");
    RawPeer pairing(agent.port());
    ASSERT_TRUE(pairing.handshake().has_value());
    std::string key = base64URLEncode(SigningKey::generate().publicKey);
    for (const JSONObject& params : {
             JSONObject{{"devicePubKey", key}, {"client", JSONObject{{"name", "a"}}}},
             JSONObject{{"token", code.token}, {"client", JSONObject{{"name", "a"}}}},
             JSONObject{{"token", code.token}, {"devicePubKey", key}},
             JSONObject{{"token", code.token}, {"devicePubKey", key}, {"client", JSONObject{{"os", "x"}}}},
             JSONObject{{"token", 7}, {"devicePubKey", key}, {"client", JSONObject{{"name", "a"}}}},
         })
        expectError(pairing.call("pair.begin", params), ErrorCode::invalidParams, "Missing pairing fields");

    // None of those spent the code; a client without an os is stored as "unknown".
    auto paired = pairing.call("pair.begin",
                               {{"token", code.token}, {"devicePubKey", key}, {"client", JSONObject{{"name", "a"}}}});
    ASSERT_TRUE(paired && paired->ok == true);
    EXPECT_EQ(agent.service().registry().device(paired->p->at("deviceId").asString())->platform, "unknown");
}

TEST(Authentication, FailedHandshakesCloseTheConnectionWithoutAWord) {
    InProcessAgent agent;
    TestDevice device = agent.addDevice();
    TestDevice other = agent.addDevice();

    auto expectClosed = [&](const std::function<void(RawPeer&, const SecHello&)>& answer) {
        RawPeer peer(agent.port());
        SecHello hello = peer.readHello();
        answer(peer, hello);
        EXPECT_FALSE(peer.readFrame().has_value());
        EXPECT_TRUE(peer.waitForClose());
    };
    // Unknown device.
    expectClosed([&](RawPeer& peer, const SecHello& hello) {
        peer.sendFrame(asBytes(peer.makeAuth(hello, "d_nobody", device.key).encode()));
    });
    // Signed by another device's key.
    expectClosed([&](RawPeer& peer, const SecHello& hello) {
        peer.sendFrame(asBytes(peer.makeAuth(hello, device.id, other.key).encode()));
    });
    // A device id without a signature.
    expectClosed([&](RawPeer& peer, const SecHello& hello) {
        peer.sendFrame(asBytes(peer.makeAuth(hello, device.id, std::nullopt).encode()));
    });
    // Pairing mode while no code is open.
    expectClosed([&](RawPeer& peer, const SecHello& hello) {
        peer.sendFrame(asBytes(peer.makeAuth(hello, std::nullopt, std::nullopt).encode()));
    });
    // No common protocol version.
    expectClosed([&](RawPeer& peer, const SecHello& hello) {
        SecAuth auth = peer.makeAuth(hello, device.id, device.key);
        auth.protocolVersions = {2, 3};
        peer.sendFrame(asBytes(auth.encode()));
    });
    // Not a SecAuth at all.
    expectClosed([&](RawPeer& peer, const SecHello&) { peer.sendFrame(asBytes(std::string_view("{\"hello\":1}"))); });

    // The agent goes on serving the device that does everything right.
    RawPeer good(agent.port());
    ASSERT_TRUE(good.handshake(device.id, device.key).has_value());
    auto info = good.call("agent.info");
    EXPECT_TRUE(info && info->ok == true);
}
