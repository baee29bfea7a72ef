#include "protocol/Handshake.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

#include "protocol/Base64URL.h"
#include "protocol/KxSec.h"
#include "protocol/ProtocolVersion.h"

namespace kx {

namespace {

bool sharesAVersion(const std::vector<std::int64_t>& peerVersions) {
    return std::any_of(peerVersions.begin(), peerVersions.end(), ProtocolVersion::isSupported);
}

Key32 decodeKey(std::string_view text) {
    std::optional<Bytes> bytes = base64URLDecode(text);
    if (!bytes || bytes->size() != sizeof(Key32)) throw HandshakeError(HandshakeError::Case::malformedKey);
    Key32 key;
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

Bytes decodeNonce(std::string_view text) {
    std::optional<Bytes> bytes = base64URLDecode(text);
    if (!bytes || bytes->size() != KxSec::nonceLength) throw HandshakeError(HandshakeError::Case::malformedNonce);
    return std::move(*bytes);
}

}  // namespace

const char* HandshakeError::what() const noexcept {
    switch (which) {
        case Case::malformedKey: return "malformed ephemeral key";
        case Case::malformedNonce: return "malformed nonce";
        case Case::missingSignature: return "missing signature";
        case Case::badSignature: return "bad signature";
        case Case::unknownDevice: return "unknown device";
        case Case::noCommonProtocolVersion: return "no common protocol version";
    }
    return "handshake failed";
}

Handshake::Handshake(HandshakeRole role) : role_(role), nonce_(KxSec::randomNonce()) {
    randombytes_buf(ephemeralPrivate_.data(), ephemeralPrivate_.size());
    ephemeralPublic_ = KxSec::x25519PublicKey(ephemeralPrivate_);
}

Handshake::Handshake(HandshakeRole role, const Key32& ephemeralPrivate, ByteView nonce)
    : role_(role), ephemeralPrivate_(ephemeralPrivate), nonce_(nonce.begin(), nonce.end()) {
    if (nonce_.size() != KxSec::nonceLength) throw std::invalid_argument("handshake nonce must be 32 bytes");
    ephemeralPublic_ = KxSec::x25519PublicKey(ephemeralPrivate_);
}

std::string Handshake::ephemeralPublicBase64URL() const {
    return base64URLEncode(ephemeralPublic_);
}

std::string Handshake::nonceBase64URL() const {
    return base64URLEncode(nonce_);
}

HandshakeResult Handshake::complete(std::string_view peerEphemeralBase64URL, std::string_view peerNonceBase64URL,
                                    const std::vector<std::int64_t>& peerProtocolVersions) const {
    // The order of these checks is part of the protocol: peers see which failure comes first.
    if (!sharesAVersion(peerProtocolVersions)) throw HandshakeError(HandshakeError::Case::noCommonProtocolVersion);
    const Key32 peerKey = decodeKey(peerEphemeralBase64URL);
    const Bytes peerNonce = decodeNonce(peerNonceBase64URL);
    Key32 shared = KxSec::x25519(ephemeralPrivate_, peerKey);

    const bool isAgent = role_ == HandshakeRole::agent;
    const ByteView agentKey = isAgent ? ByteView(ephemeralPublic_) : ByteView(peerKey);
    const ByteView agentNonce = isAgent ? ByteView(nonce_) : ByteView(peerNonce);
    const ByteView clientKey = isAgent ? ByteView(peerKey) : ByteView(ephemeralPublic_);
    const ByteView clientNonce = isAgent ? ByteView(peerNonce) : ByteView(nonce_);

    HandshakeResult result;
    result.transcript = KxSec::transcript(agentKey, agentNonce, clientKey, clientNonce);
    KxSec::SessionKeys keys = KxSec::deriveKeys(shared, result.transcript);
    sodium_memzero(shared.data(), shared.size());
    result.channel = isAgent ? std::make_unique<SecureChannel>(keys.agentToClient, keys.clientToAgent)
                             : std::make_unique<SecureChannel>(keys.clientToAgent, keys.agentToClient);
    sodium_memzero(&keys, sizeof keys);
    return result;
}

}  // namespace kx
