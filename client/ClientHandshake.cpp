#include "client/ClientHandshake.h"

#include "client/ClientError.h"
#include "protocol/Base64URL.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/ProtocolVersion.h"

namespace kx {

namespace {

constexpr const char* kAuthReplyID = "sec.auth";

const JSONValue& member(const JSONObject& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) throw ProtocolViolation(std::string("the agent's sec.auth reply lacks ") + key);
    return it->second;
}

Bytes decodedMember(const JSONObject& object, const char* key, std::size_t length) {
    const auto& value = member(object, key);
    auto bytes = value.isString() ? base64URLDecode(value.asString()) : std::nullopt;
    if (!bytes || bytes->size() != length)
        throw ProtocolViolation(std::string("the agent's sec.auth reply has a malformed ") + key);
    return *bytes;
}

std::vector<std::string> capabilityList(const JSONObject& object) {
    const auto& value = member(object, "caps");
    if (!value.isArray()) throw ProtocolViolation("the agent's capability list is not an array");
    std::vector<std::string> caps;
    for (const auto& cap : value.asArray()) {
        if (!cap.isString()) throw ProtocolViolation("the agent's capability list holds a non-string");
        caps.push_back(cap.asString());
    }
    return caps;
}

}  // namespace

ClientHandshake::ClientHandshake(ClientIdentity client, std::optional<DeviceCredentials> credentials,
                                 std::string pinnedFingerprint)
    : client_(std::move(client)),
      credentials_(std::move(credentials)),
      pinnedFingerprint_(std::move(pinnedFingerprint)) {}

ClientHandshake::Answer ClientHandshake::answerHello(ByteView helloBody) {
    SecHello hello;
    try {
        hello = SecHello::decode(asText(helloBody));
    } catch (const std::exception& error) {
        throw ProtocolViolation(std::string("the agent's hello is malformed: ") + error.what());
    }
    if (!credentials_ && !hello.pairing)
        throw PairingRefused("the agent has no open pairing code (it may have expired); show a new one");
    HandshakeResult result;
    try {
        result = handshake_.complete(hello.ephPub, hello.nonce, hello.protocolVersions);
    } catch (const HandshakeError& error) {
        throw ProtocolViolation(std::string("handshake failed: ") + error.what());
    } catch (const CryptoError& error) {
        throw ProtocolViolation(std::string("handshake failed: ") + error.what());
    }
    transcript_ = result.transcript;

    SecAuth auth;
    auth.ephPub = handshake_.ephemeralPublicBase64URL();
    auth.nonce = handshake_.nonceBase64URL();
    auth.client = client_;
    auth.protocolVersions.assign(ProtocolVersion::supported.begin(), ProtocolVersion::supported.end());
    if (credentials_) {
        auth.deviceId = credentials_->deviceId;
        auth.sig = base64URLEncode(KxSec::sign(result.transcript, credentials_->key));
    }
    return {FrameAccumulator::frame(asBytes(auth.encode())), std::move(result.channel)};
}

AuthReply ClientHandshake::acceptReply(const Envelope& reply) const {
    if (!transcript_) throw ProtocolViolation("sec.auth reply before the hello");
    if (reply.t != MessageKind::response || reply.id != kAuthReplyID || reply.ok != true || !reply.p)
        throw ProtocolViolation("the agent's first encrypted message is not a sec.auth reply");
    const auto& p = *reply.p;
    const auto agentKey = decodedMember(p, "agentPubKey", Key32{}.size());
    const auto signature = decodedMember(p, "sig", Signature64{}.size());
    if (!KxSec::verify(signature, *transcript_, agentKey)) throw BadAgentSignature();
    auto fingerprint = KxSec::fingerprint(agentKey);
    if (fingerprint != pinnedFingerprint_) throw FingerprintMismatch(pinnedFingerprint_, fingerprint);

    AuthReply result;
    result.agentPubKey = member(p, "agentPubKey").asString();
    result.fingerprint = std::move(fingerprint);
    try {
        result.agent = AgentDescriptor::fromJSON(member(p, "agent"));
    } catch (const JSONDecodeError& error) {
        throw ProtocolViolation(std::string("the agent's descriptor is malformed: ") + error.what());
    }
    result.caps = capabilityList(p);
    if (auto it = p.find("unavailable"); it != p.end()) result.unavailable = it->second;
    return result;
}

}  // namespace kx
