#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "protocol/Bytes.h"

namespace kx {

// Thrown when a cryptographic primitive fails (bad key, library failure).
struct CryptoError : std::exception {
    const char* what() const noexcept override { return "cryptographic operation failed"; }
};

// A long-term Ed25519 key pair; `seed` is the 32 raw private-key bytes that get stored.
struct SigningKey {
    Key32 seed{};
    Key32 publicKey{};

    static SigningKey generate();
    static SigningKey fromSeed(const Key32& seed);
};

// The handshake's key schedule and signatures; stateless.
namespace KxSec {

inline constexpr std::size_t nonceLength = 32;
inline constexpr std::string_view transcriptContext = "kestrix/v1/transcript";
inline constexpr std::string_view keyInfo = "kestrix/v1/keys";
inline constexpr std::string_view authContext = "kestrix/v1/auth";

struct SessionKeys {
    Key32 clientToAgent{};
    Key32 agentToClient{};
};

Bytes randomNonce();
Key32 transcript(ByteView agentEphemeral, ByteView agentNonce, ByteView clientEphemeral, ByteView clientNonce);
SessionKeys deriveKeys(ByteView sharedSecret, ByteView transcript);
Bytes signaturePayload(ByteView transcript);
Signature64 sign(ByteView transcript, const SigningKey& identity);
bool verify(ByteView signature, ByteView transcript, ByteView publicKey);
// base64url of SHA-256 over the 32 raw public-key bytes (43 characters).
std::string fingerprint(ByteView publicKey);

// The primitives under the key schedule, exposed for tests and benchmarks.
Key32 sha256(ByteView data);
Bytes hkdfSHA256(ByteView inputKeyMaterial, ByteView salt, ByteView info, std::size_t length);

}  // namespace KxSec
}  // namespace kx
