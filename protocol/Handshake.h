#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Bytes.h"
#include "protocol/SecureChannel.h"

namespace kx {

enum class HandshakeRole { agent, client };

struct HandshakeError : std::exception {
    enum class Case {
        malformedKey,
        malformedNonce,
        missingSignature,
        badSignature,
        unknownDevice,
        noCommonProtocolVersion
    };
    Case which;
    explicit HandshakeError(Case c) : which(c) {}
    const char* what() const noexcept override;
};

struct HandshakeResult {
    std::unique_ptr<SecureChannel> channel;
    Key32 transcript{};
};

// One connection attempt's ephemeral X25519 key and nonce; used for exactly one `complete`.
class Handshake {
public:
    explicit Handshake(HandshakeRole role);
    // Fixed key material, for test vectors.
    Handshake(HandshakeRole role, const Key32& ephemeralPrivate, ByteView nonce);

    HandshakeRole role() const { return role_; }
    const Key32& ephemeralPublic() const { return ephemeralPublic_; }
    const Bytes& nonce() const { return nonce_; }
    std::string ephemeralPublicBase64URL() const;
    std::string nonceBase64URL() const;

    HandshakeResult complete(std::string_view peerEphemeralBase64URL, std::string_view peerNonceBase64URL,
                             const std::vector<std::int64_t>& peerProtocolVersions) const;

private:
    HandshakeRole role_;
    Key32 ephemeralPrivate_{};
    Key32 ephemeralPublic_{};
    Bytes nonce_;
};

}  // namespace kx
