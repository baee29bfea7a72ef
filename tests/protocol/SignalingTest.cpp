// Signaling records and room names against the reference vectors.
#include <gtest/gtest.h>

#include "VectorFiles.h"
#include "protocol/Signaling.h"

using namespace kx;
using nlohmann::json;

namespace {
const json& vectors() {
    static const json data = kx::test::loadVectors("signaling.json");
    return data;
}
}  // namespace

TEST(SignalingVectors, RoomNames) {
    for (const json& c : vectors().at("rooms")) {
        EXPECT_EQ(Signaling::room(c.at("fingerprint").get<std::string>()), c.at("room").get<std::string>());
    }
}

TEST(SignalingVectors, MessagesEncodeInKeyOrderAndRoundTrip) {
    for (const json& c : vectors().at("messages")) {
        const std::string reference = c.at("reference_text").get<std::string>();
        const Signaling::Message message = Signaling::Message::decode(c.at("json").dump());
        EXPECT_EQ(message.encode(), reference);
        EXPECT_EQ(Signaling::Message::decode(reference), message);
    }
}

TEST(SignalingVectors, DecodeFailures) {
    for (const json& c : vectors().at("decode_failures"))
        EXPECT_THROW(Signaling::Message::decode(c.at("json").dump()), JSONDecodeError) << c.at("note");
}
