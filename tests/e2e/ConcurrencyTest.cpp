#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/e2e/support/Eventually.h"
#include "tests/e2e/support/InProcessAgent.h"
#include "tests/e2e/support/RawPeer.h"

using namespace kx;
using namespace kx::e2e;

// A handler that blocks delays no other request, and a handshake that never finishes is cut off
// while the established sessions stay.
TEST(Concurrency, BlockingHandlersAndStalledHandshakesHoldUpNoOtherSession) {
    constexpr auto limit = std::chrono::milliseconds(300);
    InProcessAgent agent({.handshakeTimeout = limit, .startNow = false});
    std::atomic<bool> blocking{false};
    agent.service().router().registerMethod("test.block", std::nullopt, false,
                                            [&](const JSONObject&, const RequestContext&) {
                                                blocking = true;
                                                std::this_thread::sleep_for(std::chrono::seconds(3));
                                                blocking = false;
                                                return JSONObject{{"done", true}};
                                            });
    agent.start();
    TestDevice device = agent.addDevice();
    RawPeer same(agent.port()), other(agent.port());
    ASSERT_TRUE(same.handshake(device.id, device.key));
    ASSERT_TRUE(other.handshake(device.id, device.key));

    same.sendRequest("block", "test.block");
    ASSERT_TRUE(eventually([&] { return blocking.load(); }));
    same.sendRequest("ping", "agent.ping");
    auto first = same.readEnvelope();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->id, "ping");
    auto fromOther = other.call("agent.ping");
    ASSERT_TRUE(fromOther && fromOther->ok == true);
    {
        RawPeer silent(agent.port());
        silent.readHello();
        EXPECT_TRUE(silent.waitForClose(std::chrono::seconds(10)));
    }
    // Both pings were answered, and the silent handshake cut off, while the handler still waited.
    EXPECT_TRUE(blocking.load());

    auto late = same.readEnvelope(std::chrono::seconds(10));
    ASSERT_TRUE(late.has_value());
    EXPECT_EQ(late->id, "block");
    EXPECT_EQ(late->p, (JSONObject{{"done", true}}));
    // Well past the handshake limit, the established sessions still answer.
    auto reply = other.call("agent.ping");
    EXPECT_TRUE(reply && reply->ok == true);
    EXPECT_TRUE(eventually([&] { return agent.service().transport().connectionCount() == 2; }));
}

TEST(Concurrency, TwoHundredConnectionsPingingAtOnceAllGetAnswers) {
    constexpr int connections = 200;
    InProcessAgent agent;
    TestDevice device = agent.addDevice();
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < connections; ++i) {
        peers.push_back(std::make_unique<RawPeer>(agent.port()));
        ASSERT_TRUE(peers.back()->handshake(device.id, device.key)) << i;
    }
    EXPECT_EQ(agent.service().transport().connectionCount(), std::size_t(connections));
    for (int i = 0; i < connections; ++i) peers[i]->sendRequest("p" + std::to_string(i), "agent.ping");
    for (int i = 0; i < connections; ++i) {
        auto reply = peers[i]->readEnvelope(std::chrono::seconds(20));
        ASSERT_TRUE(reply.has_value()) << i;
        EXPECT_EQ(reply->id, "p" + std::to_string(i));
        EXPECT_EQ(reply->ok, true);
    }
}
