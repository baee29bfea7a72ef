#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kx {

// What a pairing code carries: where to connect, which agent key to expect, the one-time token
// and the agent's name.
struct PairingPayload {
    static constexpr std::int64_t currentVersion = 1;

    std::int64_t v = currentVersion;
    std::string host;
    std::uint16_t port = 0;  // 0 while the agent is not listening
    std::string fp;
    std::string token;
    std::string name;

    // Compact JSON with sorted keys (fp, host, name, port, token, v): the text of the code.
    std::string encoded() const;
    // Parses such text in any key order or spacing; throws JSONDecodeError naming the first key
    // that is missing or of the wrong type.
    static PairingPayload decode(std::string_view text);

    friend bool operator==(const PairingPayload&, const PairingPayload&) = default;
};

}  // namespace kx
