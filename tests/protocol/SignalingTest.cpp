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
        const std::string room = Signaling::room(c.at("fingerprint").get<std::string>());
        EXPECT_EQ(room, c.at("room").get<std::string>());
        EXPECT_EQ(room.size(), 36u);
        EXPECT_EQ(room.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_", 4),
                  std::string::npos);
    }
    EXPECT_NE(Signaling::room("cojfajZbSv_0z0iIcffJbHK0c0TtGIh0eJBsrPuh8vY"),
              Signaling::room("cojfajZbSv_0z0iIcffJbHK0c0TtGIh0eJBsrPuh8vZ"));
}

TEST(SignalingVectors, MessagesEncodeInKeyOrderAndRoundTrip) {
    for (const json& c : vectors().at("messages")) {
        const std::string reference = c.at("reference_text").get<std::string>();
        const Signaling::Message message = Signaling::Message::decode(c.at("json").dump());
        EXPECT_EQ(message.encode(), reference);
        EXPECT_EQ(Signaling::Message::decode(reference), message);
    }
    const auto candidate = Signaling::Message::decode(vectors().at("messages").at(0).at("json").dump());
    EXPECT_EQ(candidate.kind, Signaling::Message::Kind::candidate);
    EXPECT_FALSE(candidate.sdpMid.has_value());
    EXPECT_FALSE(candidate.sdpMLineIndex.has_value());
}

TEST(SignalingVectors, DecodeFailures) {
    for (const json& c : vectors().at("decode_failures"))
        EXPECT_THROW(Signaling::Message::decode(c.at("json").dump()), JSONDecodeError) << c.at("note");
    for (const char* text : {R"({"kind":"ready","payload":"","session":"s","sdpMLineIndex":-2147483649})",
                             R"({"kind":"ready","payload":"","session":"s","sdpMLineIndex":"1"})",
                             R"({"kind":"ready","payload":"","session":"s","sdpMid":0})",
                             R"({"kind":1,"payload":"","session":"s"})", "[]", "{"})
        EXPECT_THROW(Signaling::Message::decode(text), JSONDecodeError) << text;
    const auto lowest =
        Signaling::Message::decode(R"({"kind":"answer","payload":"","session":"s","sdpMLineIndex":-2147483648})");
    EXPECT_EQ(lowest.sdpMLineIndex, INT32_MIN);
}
