// Key schedule, handshake driver and handshake messages against the shared reference vectors.
#include <gtest/gtest.h>

#include <map>

#include "VectorFiles.h"
#include "protocol/Base64URL.h"
#include "protocol/FrameAccumulator.h"
#include "protocol/Handshake.h"
#include "protocol/HandshakeMessages.h"
#include "protocol/KxSec.h"

using namespace kx;
using kx::test::arrayFromHex;
using kx::test::fromHex;
using kx::test::toHex;
using nlohmann::json;

namespace {

const json& vectors() {
    static const json data = kx::test::loadVectors("handshake.json");
    return data;
}

std::string hexAt(const json& j, const char* key) {
    return j.at(key).get<std::string>();
}

Handshake fixedHandshake(HandshakeRole role) {
    const json& side = vectors().at(role == HandshakeRole::agent ? "agent_ephemeral" : "client_ephemeral");
    const json& nonce = vectors().at(role == HandshakeRole::agent ? "agent_nonce" : "client_nonce");
    return Handshake(role, arrayFromHex<32>(hexAt(side, "private_hex")), fromHex(hexAt(nonce, "hex")));
}

HandshakeResult completeAgainst(const Handshake& self, const Handshake& peer) {
    return self.complete(peer.ephemeralPublicBase64URL(), peer.nonceBase64URL(), {1});
}

// The body of a framed message, as FrameAccumulator would deliver it.
Bytes bodyOf(const Bytes& frame) {
    return Bytes(frame.begin() + FrameAccumulator::prefixLength, frame.end());
}

HandshakeError::Case handshakeFailure(const json& c) {
    try {
        fixedHandshake(HandshakeRole::agent)
            .complete(c.at("peer_ephPub").get<std::string>(), c.at("peer_nonce").get<std::string>(),
                      c.at("peer_protocol").get<std::vector<std::int64_t>>());
    } catch (const HandshakeError& e) {
        return e.which;
    }
    throw std::runtime_error("handshake did not fail");
}

}  // namespace

TEST(HandshakeVectors, IdentitiesAndFingerprints) {
    for (const char* name : {"agent_identity", "device_identity"}) {
        const json& identity = vectors().at(name);
        const SigningKey key = SigningKey::fromSeed(arrayFromHex<32>(hexAt(identity, "seed_hex")));
        EXPECT_EQ(toHex(key.publicKey), hexAt(identity, "public_hex")) << name;
        EXPECT_EQ(base64URLEncode(key.publicKey), hexAt(identity, "public_b64url")) << name;
        EXPECT_EQ(KxSec::fingerprint(key.publicKey), hexAt(identity, "fingerprint")) << name;
    }
}

TEST(HandshakeVectors, KeyScheduleStepByStep) {
    const json& v = vectors();
    const Handshake agent = fixedHandshake(HandshakeRole::agent);
    const Handshake client = fixedHandshake(HandshakeRole::client);
    EXPECT_EQ(agent.ephemeralPublicBase64URL(), hexAt(v.at("agent_ephemeral"), "public_b64url"));
    EXPECT_EQ(client.ephemeralPublicBase64URL(), hexAt(v.at("client_ephemeral"), "public_b64url"));
    EXPECT_EQ(agent.nonceBase64URL(), hexAt(v.at("agent_nonce"), "b64url"));
    EXPECT_EQ(client.nonceBase64URL(), hexAt(v.at("client_nonce"), "b64url"));

    const Key32 shared =
        KxSec::x25519(arrayFromHex<32>(hexAt(v.at("agent_ephemeral"), "private_hex")), client.ephemeralPublic());
    EXPECT_EQ(toHex(shared), hexAt(v, "shared_secret_hex"));
    const Key32 transcript =
        KxSec::transcript(agent.ephemeralPublic(), agent.nonce(), client.ephemeralPublic(), client.nonce());
    EXPECT_EQ(toHex(transcript), hexAt(v, "transcript_hex"));
    EXPECT_EQ(toHex(KxSec::hkdfSHA256(shared, transcript, asBytes(KxSec::keyInfo), 64)), hexAt(v, "hkdf_okm_hex"));
    const KxSec::SessionKeys keys = KxSec::deriveKeys(shared, transcript);
    EXPECT_EQ(toHex(keys.clientToAgent), hexAt(v, "client_to_agent_key_hex"));
    EXPECT_EQ(toHex(keys.agentToClient), hexAt(v, "agent_to_client_key_hex"));
    EXPECT_EQ(toHex(KxSec::signaturePayload(transcript)), hexAt(v, "signature_payload_hex"));
}

TEST(HandshakeVectors, SignaturesOverTheTranscript) {
    const json& v = vectors();
    const Bytes transcript = fromHex(hexAt(v, "transcript_hex"));
    const SigningKey agentKey = SigningKey::fromSeed(arrayFromHex<32>(hexAt(v.at("agent_identity"), "seed_hex")));
    const SigningKey deviceKey = SigningKey::fromSeed(arrayFromHex<32>(hexAt(v.at("device_identity"), "seed_hex")));
    const Signature64 agentSignature = KxSec::sign(transcript, agentKey);
    EXPECT_EQ(base64URLEncode(agentSignature), hexAt(v, "agent_signature_b64url"));
    EXPECT_EQ(base64URLEncode(KxSec::sign(transcript, deviceKey)), hexAt(v, "device_signature_b64url"));

    EXPECT_TRUE(KxSec::verify(agentSignature, transcript, agentKey.publicKey));
    EXPECT_FALSE(KxSec::verify(agentSignature, transcript, deviceKey.publicKey));
    Bytes otherTranscript = transcript;
    otherTranscript[0] ^= 1;
    EXPECT_FALSE(KxSec::verify(agentSignature, otherTranscript, agentKey.publicKey));
    // A signature over the bare transcript, without the context prefix, does not count.
    EXPECT_FALSE(KxSec::verify(KxSec::signMessage(transcript, agentKey), transcript, agentKey.publicKey));
    EXPECT_FALSE(KxSec::verify(Bytes(64, 0), transcript, agentKey.publicKey));
    EXPECT_FALSE(KxSec::verify(agentSignature, transcript, ByteView(agentKey.publicKey).first(31)));
}

TEST(HandshakeVectors, CompletedChannelsSealTheReferenceFrames) {
    const json& v = vectors();
    const Handshake agent = fixedHandshake(HandshakeRole::agent);
    const Handshake client = fixedHandshake(HandshakeRole::client);
    HandshakeResult agentSide = completeAgainst(agent, client);
    HandshakeResult clientSide = completeAgainst(client, agent);
    EXPECT_EQ(toHex(agentSide.transcript), hexAt(v, "transcript_hex"));
    EXPECT_EQ(agentSide.transcript, clientSide.transcript);

    const json& frames = v.at("sealed_frames");
    for (const json& f : frames.at("agent_to_client")) {
        const Bytes sealed = agentSide.channel->seal(asBytes(f.at("plaintext").get<std::string>()));
        EXPECT_EQ(toHex(sealed), hexAt(f, "frame_hex"));
        EXPECT_EQ(asText(clientSide.channel->open(bodyOf(sealed))), f.at("plaintext").get<std::string>());
    }
    for (const json& f : frames.at("client_to_agent")) {
        const Bytes sealed = clientSide.channel->seal(asBytes(f.at("plaintext").get<std::string>()));
        EXPECT_EQ(toHex(sealed), hexAt(f, "frame_hex"));
        EXPECT_EQ(asText(agentSide.channel->open(bodyOf(sealed))), f.at("plaintext").get<std::string>());
    }
}

TEST(HandshakeVectors, CompleteChecksVersionsThenKeyThenNonce) {
    for (const json& c : vectors().at("complete_cases")) {
        const std::string expected = c.at("result").get<std::string>();
        const std::string name = c.at("name").get<std::string>();
        if (expected == "ok") {
            HandshakeResult result =
                fixedHandshake(HandshakeRole::agent)
                    .complete(c.at("peer_ephPub").get<std::string>(), c.at("peer_nonce").get<std::string>(),
                              c.at("peer_protocol").get<std::vector<std::int64_t>>());
            EXPECT_EQ(toHex(result.transcript), hexAt(vectors(), "transcript_hex")) << name;
            continue;
        }
        using C = HandshakeError::Case;
        const std::map<std::string, C> named{{"noCommonProtocolVersion", C::noCommonProtocolVersion},
                                             {"malformedKey", C::malformedKey},
                                             {"malformedNonce", C::malformedNonce}};
        ASSERT_TRUE(named.count(expected)) << name;
        EXPECT_EQ(handshakeFailure(c), named.at(expected)) << name;
    }
}

TEST(Handshake, LowOrderPeerKeyFailsAsCryptoError) {
    const Handshake agent(HandshakeRole::agent);
    const std::string zeroKey = base64URLEncode(Key32{});
    EXPECT_THROW(agent.complete(zeroKey, agent.nonceBase64URL(), {1}), CryptoError);
    EXPECT_THROW(Handshake(HandshakeRole::agent, Key32{}, Bytes(16)), std::invalid_argument);
}

TEST(HandshakeMessages, ReferenceMessagesRoundTrip) {
    const json& v = vectors();
    const SecHello hello = SecHello::decode(v.at("sec_hello").dump());
    EXPECT_EQ(hello.ephPub, hexAt(v.at("agent_ephemeral"), "public_b64url"));
    EXPECT_TRUE(hello.pairing);
    EXPECT_EQ(hello.protocolVersions, std::vector<std::int64_t>{1});
    EXPECT_EQ(json::parse(hello.encode()), v.at("sec_hello"));

    const SecAuth paired = SecAuth::decode(v.at("sec_auth_paired").dump());
    EXPECT_EQ(paired.deviceId, hexAt(v.at("device_identity"), "device_id"));
    EXPECT_EQ(paired.sig, hexAt(v, "device_signature_b64url"));
    EXPECT_EQ(paired.client, (ClientIdentity{"Test Phone", "kx-vectors", "iOS 18.2"}));
    EXPECT_EQ(json::parse(paired.encode()), v.at("sec_auth_paired"));

    const SecAuth pairing = SecAuth::decode(v.at("sec_auth_pairing").dump());
    EXPECT_FALSE(pairing.deviceId.has_value());
    EXPECT_FALSE(pairing.sig.has_value());
    const std::string encoded = pairing.encode();
    EXPECT_EQ(json::parse(encoded), v.at("sec_auth_pairing"));
    EXPECT_EQ(encoded.find("deviceId"), std::string::npos);
    EXPECT_EQ(encoded.find("null"), std::string::npos);
}

TEST(HandshakeMessages, DecodingRequiresEveryKeyWithItsType) {
    const json valid = vectors().at("sec_auth_paired");
    auto without = [&](const char* key) {
        json j = valid;
        j.erase(key);
        return j.dump();
    };
    auto with = [&](const char* key, json value) {
        json j = valid;
        j[key] = std::move(value);
        return j.dump();
    };
    for (const std::string& text :
         {without("ephPub"), without("nonce"), without("client"), without("protocol"), with("ephPub", 5),
          with("sig", true), with("protocol", 1), with("protocol", json::array({"1"})),
          with("protocol", json::array({1.5})), with("protocol", json::array({18446744073709551615ull})),
          with("client", json{{"name", "n"}, {"app", "a"}}), with("client", "phone"), std::string("[]"),
          std::string("{"), std::string("")}) {
        EXPECT_THROW(SecAuth::decode(text), JSONDecodeError) << text;
    }
    // Null optional keys read as absent, integral doubles as integers, unknown keys are ignored.
    const SecAuth lenient = SecAuth::decode(with("deviceId", nullptr));
    EXPECT_FALSE(lenient.deviceId.has_value());
    EXPECT_EQ(SecAuth::decode(with("protocol", json::array({1.0, 3}))).protocolVersions,
              (std::vector<std::int64_t>{1, 3}));
    EXPECT_NO_THROW(SecAuth::decode(with("extra", json::object())));

    json hello = vectors().at("sec_hello");
    hello["pairing"] = "true";
    EXPECT_THROW(SecHello::decode(hello.dump()), JSONDecodeError);
    hello.erase("pairing");
    EXPECT_THROW(SecHello::decode(hello.dump()), JSONDecodeError);
}
