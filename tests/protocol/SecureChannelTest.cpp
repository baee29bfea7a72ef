// The secure channel against the reference frames, and its counter and size rules.
#include <gtest/gtest.h>

#include "VectorFiles.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/KxSec.h"
#include "protocol/SecureChannel.h"

namespace kx {
// Moves the counters close to their end without sealing 2^64 frames.
struct SecureChannelTestAccess {
    static void setCounters(SecureChannel& channel, std::uint64_t send, std::uint64_t receive) {
        channel.sendCounter_ = send;
        channel.receiveCounter_ = receive;
    }
};
}  // namespace kx

using namespace kx;
using kx::test::arrayFromHex;
using kx::test::bodyOf;
using kx::test::fromHex;
using kx::test::toHex;
using nlohmann::json;
using Case = SecureChannel::Failure::Case;

namespace {

const json& vectors() {
    static const json data = kx::test::loadVectors("channel.json");
    return data;
}

Key32 key(const char* name) {
    return arrayFromHex<32>(vectors().at("keys").at(name).get<std::string>());
}

// A sends with a_send and receives with a_receive; B is the mirror.
SecureChannel channelA() {
    return SecureChannel(key("a_send_hex"), key("a_receive_hex"));
}
SecureChannel channelB() {
    return SecureChannel(key("a_receive_hex"), key("a_send_hex"));
}

Case failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const SecureChannel::Failure& f) {
        return f.which;
    }
    throw std::runtime_error("no channel failure");
}

}  // namespace

TEST(SecureChannelVectors, NoncesAndSealedFrames) {
    for (const json& n : vectors().at("nonces"))
        EXPECT_EQ(toHex(SecureChannel::nonce(n.at("counter").get<std::uint64_t>())),
                  n.at("nonce_hex").get<std::string>());

    SecureChannel a = channelA();
    SecureChannel b = channelB();
    for (const json& step : vectors().at("a_seals_in_order")) {
        const Bytes plaintext = fromHex(step.at("plaintext_hex").get<std::string>());
        const Bytes frame = a.seal(plaintext);
        EXPECT_EQ(toHex(frame), step.at("frame_hex").get<std::string>());
        EXPECT_EQ(b.open(bodyOf(frame)), plaintext);
    }
}

TEST(SecureChannelVectors, PayloadLimitIsExact) {
    SecureChannel a = channelA();
    const Bytes largest(SecureChannel::maxPayload, 0x61);
    const Bytes frame = a.seal(largest);
    EXPECT_EQ(frame.size(), vectors().at("max_payload").at("frame_length").get<std::size_t>());
    EXPECT_EQ(toHex(KxSec::sha256(frame)), vectors().at("max_payload").at("frame_sha256").get<std::string>());
    EXPECT_EQ(frame.size() - FrameAccumulator::prefixLength, SecureChannel::maxFrame);

    try {
        a.seal(Bytes(SecureChannel::maxPayload + 1, 0x61));
        FAIL() << "oversized plaintext was sealed";
    } catch (const SecureChannel::Failure& f) {
        EXPECT_EQ(f.which, Case::frameTooLarge);
        EXPECT_EQ(f.length, 262145u);
    }
    EXPECT_EQ(failureOf([&] { a.seal({}); }), Case::malformedFrame);
    EXPECT_EQ(a.sendCounter(), 1u);  // failed seals leave the counter alone
}

TEST(SecureChannelVectors, CounterStopsBeforeItsLastValue) {
    const json& v = vectors().at("seal_at_counter_2^64-2");
    SecureChannel a = channelA();
    SecureChannel b = channelB();
    const std::uint64_t lastUsable = UINT64_MAX - 1;
    SecureChannelTestAccess::setCounters(a, lastUsable, 0);
    SecureChannelTestAccess::setCounters(b, 0, lastUsable);
    const Bytes frame = a.seal(fromHex(v.at("plaintext_hex").get<std::string>()));
    EXPECT_EQ(toHex(frame), v.at("frame_hex").get<std::string>());
    EXPECT_EQ(failureOf([&] { a.seal(asBytes("x")); }), Case::counterExhausted);
    EXPECT_EQ(a.sendCounter(), UINT64_MAX);

    EXPECT_EQ(asText(b.open(bodyOf(frame))), "x");
    EXPECT_EQ(failureOf([&] { b.open(bodyOf(frame)); }), Case::counterExhausted);
}

TEST(SecureChannelVectors, ForgedReplayedAndReorderedFramesFail) {
    for (const json& c : vectors().at("open_cases")) {
        const std::string name = c.at("name").get<std::string>();
        SecureChannel a = channelA();
        SecureChannel b = channelB();
        const Bytes body = fromHex(c.at("body_hex").get<std::string>());
        const std::string error = c.at("error").get<std::string>();
        if (name.rfind("replay", 0) == 0) b.open(body);  // opened once, then replayed
        const Case expected = error == "malformedFrame" ? Case::malformedFrame : Case::authenticationFailed;
        EXPECT_EQ(failureOf([&] { b.open(body); }), expected) << name;
        EXPECT_EQ(b.receiveCounter(), name.rfind("replay", 0) == 0 ? 1u : 0u) << name;
        if (c.contains("then_open_hex")) {
            // The failed attempt did not move the counter, so the genuine frame still opens.
            EXPECT_EQ(toHex(b.open(fromHex(c.at("then_open_hex").get<std::string>()))),
                      c.at("then_plaintext_hex").get<std::string>());
        }
        if (c.contains("other_frame_hex")) {
            // In their original order both frames open.
            EXPECT_NO_THROW(b.open(fromHex(c.at("other_frame_hex").get<std::string>()))) << name;
            EXPECT_NO_THROW(b.open(body)) << name;
        }
    }
}
