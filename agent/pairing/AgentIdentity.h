#pragma once

#include <string>

#include "protocol/Bytes.h"
#include "protocol/KxSec.h"

namespace kx {

class IdentityStoring;

// The agent's long-term Ed25519 key pair: signs every handshake transcript, and its fingerprint
// travels in the pairing code so that phones can pin it. Immutable; share it freely.
class AgentIdentity {
public:
    // `privateKey` is the 32-byte seed that the stores keep.
    explicit AgentIdentity(const Key32& privateKey);
    explicit AgentIdentity(const SigningKey& key);

    static AgentIdentity generate();
    // The stored identity, or a new one that is saved first; store errors pass through unchanged
    // (a malformed stored key is never replaced behind the user's back).
    static AgentIdentity loadOrCreate(IdentityStoring& store);

    const Key32& privateKey() const { return key_.seed; }
    const Key32& publicKey() const { return key_.publicKey; }
    const SigningKey& signingKey() const { return key_; }
    // base64url of SHA-256 over the public key: 43 characters.
    const std::string& fingerprint() const { return fingerprint_; }

    // Ed25519 signature of the signature payload ("kestrix/v1/auth" + transcript).
    Signature64 sign(ByteView transcript) const;

    friend bool operator==(const AgentIdentity& a, const AgentIdentity& b) { return a.key_.seed == b.key_.seed; }

private:
    SigningKey key_;
    std::string fingerprint_;
};

}  // namespace kx
