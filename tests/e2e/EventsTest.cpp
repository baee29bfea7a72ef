#include <gtest/gtest.h>

#include "agent/pairing/DeviceRegistry.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/e2e/support/RawPeer.h"

using namespace kx;
using namespace kx::e2e;

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
