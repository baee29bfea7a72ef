#include <gtest/gtest.h>

#include "VectorFiles.h"
#include "protocol/Envelope.h"
#include "protocol/Signaling.h"

using namespace kx;
using nlohmann::json;

namespace {
const json& signalingVectors() {
    static const json data = kx::test::loadVectors("signaling.json");
    return data;
}

std::optional<ValidationFailure> failureOf(const std::string& text) {
    try {
        Envelope::decode(text).validate();
        return std::nullopt;
    } catch (const ValidationFailure& f) {
        return f;
    }
}
}  // namespace

TEST(Envelope, ValidationRulesApplyInOrder) {
    using C = ValidationFailure::Case;
    const std::vector<std::pair<const char*, std::optional<ValidationFailure>>> rows = {
        {R"({"v":2,"t":"req","id":"a","m":"agent.ping"})", ValidationFailure(C::unsupportedVersion, 2)},
        {R"({"v":1,"t":"req"})", ValidationFailure(C::missingID)},
        {R"({"v":1,"t":"req","id":"x"})", ValidationFailure(C::missingMethod)},
        {R"({"v":1,"t":"req","id":"a","m":"agent.ping"})", std::nullopt},
        {R"({"v":1,"t":"res","id":"x"})", ValidationFailure(C::missingOK)},
        {R"({"v":1,"t":"res","id":"x","ok":false})", ValidationFailure(C::missingError)},
        {R"({"v":1,"t":"res","id":"x","ok":true})", std::nullopt},
        {R"({"v":1,"t":"evt","m":"system.state"})", ValidationFailure(C::missingSequence)},
        {R"({"v":1,"t":"evt","m":"system.state","seq":0})", std::nullopt},
        {R"({"v":1,"t":"evt","m":"e","seq":1,"id":"i","x":3})", std::nullopt},  // extra fields are not rejected
    };
    for (const auto& [text, failure] : rows) EXPECT_EQ(failureOf(text), failure) << text;
    EXPECT_FALSE(Envelope::decode(R"({"v":1,"t":"req","id":"a","m":"agent.ping"})").p.has_value());
}

TEST(Envelope, ParamsRoundTripAndAbsentKeysAreOmitted) {
    JSONObject nested{{"flag", true}};
    JSONObject params{{"list", JSONArray{1.5, "s", nullptr, nested}}};
    auto env = Envelope::request("r1", "x.y", params);
    auto back = Envelope::decode(env.encode());
    EXPECT_EQ(back, env);
    EXPECT_EQ(Envelope::success("r1").encode(), R"({"v":1,"t":"res","id":"r1","ok":true})");
    EXPECT_EQ(Envelope::event("device.ring", 3, JSONObject{}).encode(),
              R"({"v":1,"t":"evt","m":"device.ring","p":{},"seq":3})");
    auto failure = Envelope::failure("r2", WireError(ErrorCode::busy, "Busy"));
    EXPECT_EQ(failure.encode(), R"({"v":1,"t":"res","id":"r2","ok":false,"e":{"code":"busy","msg":"Busy"}})");
}

TEST(ErrorCodes, WireStringsReadBackExactly) {
    EXPECT_FALSE(errorCodeFromWire("INTERNAL").has_value());
    for (int i = 0; i <= static_cast<int>(ErrorCode::internal); ++i)
        EXPECT_EQ(errorCodeFromWire(wireString(static_cast<ErrorCode>(i))), static_cast<ErrorCode>(i));
}

TEST(JSONValueEquality, ObjectsCompareAsMapsAndBoolsStayBools) {
    auto a = JSONValue::fromJSONText(R"({"a":1,"b":[true,null]})");
    auto b = JSONValue::fromJSONText(R"({"b":[true,null],"a":1.0})");
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<JSONValue>{}(a), std::hash<JSONValue>{}(b));
    EXPECT_TRUE(JSONValue::fromJSONText("true").isBool());
    EXPECT_NE(JSONValue::fromJSONText("1"), JSONValue::fromJSONText("true"));
}

// Signaling records and room names against the reference vectors.
TEST(SignalingVectors, RoomNames) {
    for (const json& c : signalingVectors().at("rooms")) {
        EXPECT_EQ(Signaling::room(c.at("fingerprint").get<std::string>()), c.at("room").get<std::string>());
    }
}

TEST(SignalingVectors, MessagesEncodeInKeyOrderAndRoundTrip) {
    for (const json& c : signalingVectors().at("messages")) {
        const std::string reference = c.at("reference_text").get<std::string>();
        const Signaling::Message message = Signaling::Message::decode(c.at("json").dump());
        EXPECT_EQ(message.encode(), reference);
        EXPECT_EQ(Signaling::Message::decode(reference), message);
    }
}

TEST(SignalingVectors, DecodeFailures) {
    for (const json& c : signalingVectors().at("decode_failures"))
        EXPECT_THROW(Signaling::Message::decode(c.at("json").dump()), JSONDecodeError) << c.at("note");
}
