// Base64url text as every binary value inside JSON is written.
#include <gtest/gtest.h>

#include "VectorFiles.h"
#include "protocol/Base64URL.h"

using namespace kx;
using kx::test::fromHex;
using kx::test::toHex;
using nlohmann::json;

TEST(Base64URLVectors, EncodeAndDecode) {
    const json v = kx::test::loadVectors("base64url.json");
    for (const json& c : v.at("encode")) {
        const Bytes bytes = fromHex(c.at("bytes_hex").get<std::string>());
        const std::string text = base64URLEncode(bytes);
        EXPECT_EQ(text, c.at("text").get<std::string>());
        EXPECT_EQ(base64URLDecode(text), bytes) << text;
    }
    for (const json& c : v.at("decode")) {
        const std::string text = c.at("text").get<std::string>();
        const auto decoded = base64URLDecode(text);
        if (c.at("ok").get<bool>()) {
            ASSERT_TRUE(decoded.has_value()) << c.at("note").get<std::string>();
            EXPECT_EQ(toHex(*decoded), c.at("bytes_hex").get<std::string>());
        } else {
            EXPECT_FALSE(decoded.has_value()) << c.at("note").get<std::string>();
        }
    }
}

// Longer values are spelled by the handshake vectors (keys, nonces, signatures).
TEST(Base64URL, RejectsStrayBytesAndNonCanonicalSpellings) {
    using namespace std::string_literals;
    EXPECT_FALSE(base64URLDecode("YW\0j"s).has_value());
    EXPECT_FALSE(base64URLDecode("YWJj\t").has_value());
    // Non-zero bits after the last whole byte are a non-canonical spelling and are refused.
    EXPECT_FALSE(base64URLDecode("YR").has_value());
}
