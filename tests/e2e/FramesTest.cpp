#include <gtest/gtest.h>

#include "protocol/FrameAccumulator.h"
#include "protocol/SecureChannel.h"
#include "tests/e2e/support/InProcessAgent.h"

using namespace kx;
using namespace kx::e2e;

namespace {

class Frames : public ::testing::Test {
protected:
    InProcessAgent agent;
    TestDevice device = agent.addDevice();

    std::unique_ptr<RawPeer> connect() { return agent.connect(device); }
    static bool pings(RawPeer& peer) {
        auto reply = peer.call("agent.ping");
        return reply && reply->ok == true;
    }
};

}  // namespace

TEST_F(Frames, BadFramesCloseOnlyTheirOwnConnection) {
    auto bystander = connect();
    const std::uint32_t over = SecureChannel::maxFrame + 1;
    const std::string_view http = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::pair<const char*, Bytes> cases[] = {
        // Refused on the prefix alone, before any body arrives.
        {"oversized",
         {std::uint8_t(over >> 24), std::uint8_t(over >> 16), std::uint8_t(over >> 8), std::uint8_t(over)}},
        // Bytes that are not a frame read as a huge length.
        {"http", Bytes(http.begin(), http.end())},
        // A well-framed body that was not sealed with the session's key.
        {"forged", FrameAccumulator::frame(Bytes(64, 0xAB))},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        auto peer = connect();
        peer->sendBytes(bytes);
        EXPECT_TRUE(peer->waitForClose());
    }
    EXPECT_TRUE(pings(*bystander));
}

TEST_F(Frames, LargestFrameAndMalformedEnvelopesAreAnsweredAndTheSessionGoesOn) {
    auto peer = connect();
    std::string padding(SecureChannel::maxPayload - 200, 'x');
    std::string text = Envelope::request("big", "agent.ping", JSONObject{{"pad", padding}}).encode();
    ASSERT_LE(text.size(), SecureChannel::maxPayload);
    peer->sendSealed(text);
    auto reply = peer->readEnvelope();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->id, "big");
    EXPECT_EQ(reply->ok, true);

    for (std::string_view text :
         {std::string_view("not json"), std::string_view("{\"v\":2,\"t\":\"req\",\"id\":\"9\",\"m\":\"agent.ping\"}"),
          std::string_view("{\"v\":1,\"t\":\"bogus\"}"), std::string_view("[1,2]")}) {
        peer->sendSealed(text);
        auto reply = peer->readEnvelope();
        ASSERT_TRUE(reply.has_value()) << text;
        EXPECT_EQ(*reply, Envelope::failure("?", {ErrorCode::invalidParams, "Malformed frame"})) << text;
    }
    // A request without an id reaches the router, which answers under "?" as well.
    peer->sendSealed("{\"v\":1,\"t\":\"req\",\"m\":\"agent.ping\"}");
    reply = peer->readEnvelope();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->id, "?");
    EXPECT_TRUE(pings(*peer));
}

TEST_F(Frames, RequestInTheSameWriteAsTheHandshakeIsServed) {
    RawPeer peer(agent.port());
    SecHello hello = peer.readHello();
    Bytes both = FrameAccumulator::frame(asBytes(peer.makeAuth(hello, device.id, device.key).encode()));
    // The channel exists on our side once makeAuth has run, so the request can be sealed now.
    Bytes request = peer.channel()->seal(asBytes(Envelope::request("early", "agent.info").encode()));
    both.insert(both.end(), request.begin(), request.end());
    // Split the bytes unevenly so that frames straddle writes.
    peer.sendBytes(ByteView(both).first(3));
    peer.sendBytes(ByteView(both).subspan(3));
    auto authReply = peer.readEnvelope();
    ASSERT_TRUE(authReply.has_value());
    EXPECT_EQ(authReply->id, "sec.auth");
    auto info = peer.readEnvelope();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->id, "early");
    EXPECT_EQ(info->ok, true);
}

// A handshake that never finishes is cut off at its limit; the established session stays.
TEST(StalledHandshake, IsCutOffWhileEstablishedSessionsStay) {
    InProcessAgent agent({.handshakeTimeout = std::chrono::milliseconds(300)});
    TestDevice device = agent.addDevice();
    auto established = agent.connect(device);
    RawPeer silent(agent.port());
    silent.readHello();
    EXPECT_TRUE(silent.waitForClose(std::chrono::seconds(10)));
    auto reply = established->call("agent.ping");
    EXPECT_TRUE(reply && reply->ok == true);
}
