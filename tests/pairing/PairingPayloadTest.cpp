#include <gtest/gtest.h>

#include "agent/pairing/PairingPayload.h"
#include "protocol/JSONValue.h"
#include "tests/protocol/VectorFiles.h"

using namespace kx;

namespace {

PairingPayload fromFields(const nlohmann::json& fields) {
    return PairingPayload{fields.at("v").get<std::int64_t>(),     fields.at("host").get<std::string>(),
                          fields.at("port").get<std::uint16_t>(), fields.at("fp").get<std::string>(),
                          fields.at("token").get<std::string>(),  fields.at("name").get<std::string>()};
}

}  // namespace

TEST(PairingPayload, EncodesTheVectorsByteForByteAndDecodesThemBack) {
    auto all = kx::test::loadVectors("pairing.json");
    for (const char* name : {"payload", "payload_plain_name"}) {
        SCOPED_TRACE(name);
        const auto& vector = all.at(name);
        auto payload = fromFields(vector.at("fields"));
        auto text = vector.at("text").get<std::string>();
        EXPECT_EQ(payload.encoded(), text);
        EXPECT_EQ(PairingPayload::decode(text), payload);
    }
    const auto& pretty = all.at("decode_pretty_unsorted");
    EXPECT_EQ(PairingPayload::decode(pretty.at("text").get<std::string>()), fromFields(pretty.at("fields")));
}

TEST(PairingPayload, RejectsMissingKeysWrongTypesAndOutOfRangePorts) {
    const auto all = kx::test::loadVectors("pairing.json");
    for (const auto& failure : all.at("decode_failures")) {
        SCOPED_TRACE(failure.at("note").get<std::string>());
        EXPECT_THROW(PairingPayload::decode(failure.at("text").get<std::string>()), JSONDecodeError);
    }
}
