// The one-pass envelope decoder and direct text writer must agree with a plain document parse
// and nlohmann's own dump() on every input, including the awkward ones.
#include <gtest/gtest.h>

#include <cmath>

#include "protocol/Envelope.h"
#include "protocol/JSONConversion.h"

using namespace kx;

TEST(EnvelopeCodec, WriterMatchesNlohmannDump) {
    for (double d : {0.0, -0.0, 0.1, 1e-7, 0.0001, 12.5, -3.0, 1e21, 9007199254740992.0, 9007199254740994.0,
                     -9007199254740994.0, 1.7976931348623157e308, 5e-324, HUGE_VAL, double(NAN)}) {
        std::string text;
        appendJSONNumber(text, d);
        EXPECT_EQ(text, toNlohmann(JSONValue(d)).dump()) << d;
    }
    const std::string strings[] = {
        "", "plain", "quote\"back\\slash", "tab\tnew\nline\x01\x1f", "caf\xc3\xa9 \xe2\x82\xac", "del\x7f", "slash/"};
    for (const std::string& s : strings) {
        std::string text;
        appendJSONString(text, s);
        EXPECT_EQ(text, toNlohmann(JSONValue(s)).dump()) << s;
    }
    const JSONValue nested =
        JSONObject{{"b", JSONArray{1, 2.5, nullptr, true, "x"}}, {"a", JSONObject{}}, {"\xc3\xa9", JSONArray{}}};
    std::string text;
    appendJSONText(text, nested);
    EXPECT_EQ(text, toNlohmann(nested).dump());
    std::string invalid;
    EXPECT_THROW(appendJSONString(invalid, "\xff"), nlohmann::json::type_error);
}

TEST(EnvelopeCodec, DecoderKeepsDocumentSemantics) {
    // The last of duplicate keys wins, at the top and inside p.
    const auto env = Envelope::decode(R"({"v":1,"t":"evt","t":"req","id":"a","m":"x","p":{"k":1,"k":2},"p":{"k":3}})");
    EXPECT_EQ(env.t, MessageKind::request);
    EXPECT_EQ(env.p, (JSONObject{{"k", 3}}));
    // Null reads as absent; unknown keys with nested values are ignored.
    const auto sparse = Envelope::decode(R"({"v":1.0,"t":"res","id":null,"x":{"y":[[{}]]},"ok":true,"seq":null})");
    EXPECT_EQ(sparse.v, 1);
    EXPECT_FALSE(sparse.id.has_value());
    EXPECT_FALSE(sparse.seq.has_value());
    // Sequence numbers keep full integer precision beyond 2^53.
    EXPECT_EQ(Envelope::decode(R"({"v":1,"t":"evt","m":"e","seq":9007199254740993})").seq, 9007199254740993u);
    for (const char* text :
         {R"({"t":"req"})", R"({"v":1})", R"({"v":"1","t":"req"})", R"({"v":1,"t":"request"})",
          R"({"v":1,"t":"req","p":[1]})", R"({"v":1,"t":"res","id":"a","ok":false,"e":{"code":"Internal","msg":"x"}})",
          R"({"v":1,"t":"req","id":5})", "[1]", "{", "", R"({"v":18446744073709551615,"t":"req"})",
          R"({"v":1,"t":"req","seq":-1})", R"({"v":1,"t":"req","e":"boom"})", R"({"v":1,"t":"req","ok":1})",
          R"({"v":1,"t":"req","p":null,"m":["x"]})", R"({"v":1,"t":"req"} {})", R"({"v":1e400,"t":"req"})", R"("v")",
          R"([{"v":1,"t":"req"}])"}) {
        EXPECT_THROW(Envelope::decode(text), JSONDecodeError) << text;
    }
}

TEST(EnvelopeCodec, DeepNestingIsRefusedNotRecursedInto) {
    auto nestedRequest = [](std::size_t depth) {
        return R"({"v":1,"t":"req","id":"a","m":"x","p":{"a":)" + std::string(depth, '[') + std::string(depth, ']') +
               "}}";
    };
    EXPECT_NO_THROW(Envelope::decode(nestedRequest(400)));
    // A whole 256 KiB frame of brackets must fail cleanly rather than overflow the stack.
    EXPECT_THROW(Envelope::decode(nestedRequest(130000)), JSONDecodeError);
    EXPECT_THROW(JSONValue::fromJSONText(std::string(100000, '[') + std::string(100000, ']')), JSONDecodeError);
}
