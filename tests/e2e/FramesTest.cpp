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
    EXPECT_TRUE(bystander->succeeds("agent.ping"));
}

TEST_F(Frames, LargestFrameAndMalformedEnvelopesAreAnsweredAndTheSessionGoesOn) {
    auto peer = connect();
    EXPECT_TRUE(peer->succeeds("agent.ping", {{"pad", std::string(SecureChannel::maxPayload - 200, 'x')}}));

    // Not JSON, another version, no such kind, not an object, no id.
    for (std::string_view text : {"not json", R"({"v":2,"t":"req","id":"9","m":"agent.ping"})",
                                  R"({"v":1,"t":"bogus"})", "[1,2]", R"({"v":1,"t":"req","m":"agent.ping"})"}) {
        peer->sendSealed(text);
        auto reply = peer->readEnvelope();
        ASSERT_TRUE(reply.has_value()) << text;
        EXPECT_EQ(*reply, Envelope::failure("?", {ErrorCode::invalidParams, "Malformed frame"})) << text;
    }
    EXPECT_TRUE(peer->succeeds("agent.ping"));
}

// A handshake that never finishes is cut off at its limit; the established session stays.
TEST(StalledHandshake, IsCutOffWhileEstablishedSessionsStay) {
    InProcessAgent agent({.handshakeTimeout = std::chrono::milliseconds(300)});
    TestDevice device = agent.addDevice();
    auto established = agent.connect(device);
    RawPeer silent(agent.port());
    silent.readHello();
    EXPECT_TRUE(silent.waitForClose(std::chrono::seconds(10)));
    EXPECT_TRUE(established->succeeds("agent.ping"));
}
