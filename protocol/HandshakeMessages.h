#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/JSONValue.h"

namespace kx {

// Who is connecting; decoded but not used by the agent.
struct ClientIdentity {
    std::string name;
    std::string app;
    std::string os;
    friend bool operator==(const ClientIdentity&, const ClientIdentity&) = default;
};

// Agent to phone, first cleartext frame.
struct SecHello {
    std::string ephPub;
    std::string nonce;
    bool pairing = false;
    std::vector<std::int64_t> protocolVersions;

    std::string encode() const;
    static SecHello decode(std::string_view text);  // throws JSONDecodeError
    friend bool operator==(const SecHello&, const SecHello&) = default;
};

// Phone to agent, second cleartext frame.
struct SecAuth {
    std::string ephPub;
    std::string nonce;
    std::optional<std::string> deviceId;
    std::optional<std::string> sig;
    ClientIdentity client;
    std::vector<std::int64_t> protocolVersions;

    std::string encode() const;                    // optional keys omitted
    static SecAuth decode(std::string_view text);  // throws JSONDecodeError
    friend bool operator==(const SecAuth&, const SecAuth&) = default;
};

}  // namespace kx
