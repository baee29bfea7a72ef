#include <gtest/gtest.h>

#include "protocol/Base64URL.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/RawPeer.h"

using namespace kx;
using namespace kx::e2e;

namespace {

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

}  // namespace

// Wrong codes are refused and reported, a line a second at most, while the right one still pairs.
TEST(PairingAttempts, WrongCodesAreLoggedWithTheAddressAtMostOnceASecond) {
    constexpr int attempts = 300;
    const std::string report = "refused a pairing attempt from 127.0.0.1";
    AgentProcess agent;
    PairingPayload code = agent.pairingCode();
    RawPeer guesser(agent.port());
    ASSERT_TRUE(guesser.handshake().has_value());
    JSONObject params{{"devicePubKey", base64URLEncode(SigningKey::generate().publicKey)},
                      {"client", JSONObject{{"name", "guesser"}, {"os", "linux"}}}};

    auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < attempts; ++i) {
        params["token"] = base64URLEncode(Bytes(code.token.size() * 3 / 4, static_cast<std::uint8_t>(i)));
        auto reply = guesser.call("pair.begin", params);
        ASSERT_TRUE(reply.has_value());
        ASSERT_EQ(reply->ok, false);
    }
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    ASSERT_TRUE(agent.waitForErrorOutput(report));
    EXPECT_LE(occurrences(agent.errorOutput(), report), static_cast<std::size_t>(seconds.count()) + 1);

    params["token"] = code.token;
    auto reply = guesser.call("pair.begin", params);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->ok, true);
}
