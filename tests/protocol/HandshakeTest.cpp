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
using kx::test::bodyOf;
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

// "ok" when completing against the case's peer gives the reference transcript, else the failure's name.
std::string outcome(const json& c) {
    using C = HandshakeError::Case;
    try {
        const HandshakeResult result =
            fixedHandshake(HandshakeRole::agent)
                .complete(c.at("peer_ephPub").get<std::string>(), c.at("peer_nonce").get<std::string>(),
                          c.at("peer_protocol").get<std::vector<std::int64_t>>());
        return toHex(result.transcript) == hexAt(vectors(), "transcript_hex") ? "ok" : "other transcript";
    } catch (const HandshakeError& e) {
        const std::map<C, std::string> names{{C::noCommonProtocolVersion, "noCommonProtocolVersion"},
                                             {C::malformedKey, "malformedKey"},
                                             {C::malformedNonce, "malformedNonce"}};
        return names.at(e.which);
    }
}

}  // namespace

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

TEST(HandshakeVectors, IdentitiesAndTheirSignaturesOverTheTranscript) {
    const json& v = vectors();
    const Bytes transcript = fromHex(hexAt(v, "transcript_hex"));
    std::map<std::string, SigningKey> keys;
    for (const std::string name : {"agent", "device"}) {
        const json& identity = v.at(name + "_identity");
        const SigningKey key = keys[name] = SigningKey::fromSeed(arrayFromHex<32>(hexAt(identity, "seed_hex")));
        EXPECT_EQ(toHex(key.publicKey), hexAt(identity, "public_hex")) << name;
        EXPECT_EQ(base64URLEncode(key.publicKey), hexAt(identity, "public_b64url")) << name;
        EXPECT_EQ(KxSec::fingerprint(key.publicKey), hexAt(identity, "fingerprint")) << name;
        EXPECT_EQ(base64URLEncode(KxSec::sign(transcript, key)), v.at(name + "_signature_b64url")) << name;
    }
    const SigningKey& agentKey = keys["agent"];
    const SigningKey& deviceKey = keys["device"];
    const Signature64 agentSignature = KxSec::sign(transcript, agentKey);
    EXPECT_TRUE(KxSec::verify(agentSignature, transcript, agentKey.publicKey));
    EXPECT_FALSE(KxSec::verify(agentSignature, transcript, deviceKey.publicKey));
    Bytes otherTranscript = transcript;
    otherTranscript[0] ^= 1;
    EXPECT_FALSE(KxSec::verify(agentSignature, otherTranscript, agentKey.publicKey));
    // A signature over the bare transcript, without the context prefix, does not count.
    EXPECT_FALSE(KxSec::verify(KxSec::signMessage(transcript, agentKey), transcript, agentKey.publicKey));
    EXPECT_FALSE(KxSec::verify(Bytes(64, 0), transcript, agentKey.publicKey));
    EXPECT_FALSE(KxSec::verify(agentSignature, transcript, ByteView(agentKey.publicKey).first(31)));
    EXPECT_FALSE(KxSec::verify(ByteView(agentSignature).first(63), transcript, agentKey.publicKey));
}

TEST(HandshakeVectors, CompletedChannelsSealTheReferenceFrames) {
    const json& v = vectors();
    const Handshake agent = fixedHandshake(HandshakeRole::agent);
    const Handshake client = fixedHandshake(HandshakeRole::client);
    HandshakeResult agentSide = completeAgainst(agent, client);
    HandshakeResult clientSide = completeAgainst(client, agent);
    EXPECT_EQ(toHex(agentSide.transcript), hexAt(v, "transcript_hex"));
    EXPECT_EQ(agentSide.transcript, clientSide.transcript);

    for (auto [direction, sender, receiver] : {std::tuple("agent_to_client", &agentSide, &clientSide),
                                               std::tuple("client_to_agent", &clientSide, &agentSide)}) {
        for (const json& f : v.at("sealed_frames").at(direction)) {
            const Bytes sealed = sender->channel->seal(asBytes(f.at("plaintext").get<std::string>()));
            EXPECT_EQ(toHex(sealed), hexAt(f, "frame_hex"));
            EXPECT_EQ(asText(receiver->channel->open(bodyOf(sealed))), f.at("plaintext").get<std::string>());
        }
    }
}

TEST(HandshakeVectors, CompleteChecksVersionsThenKeyThenNonce) {
    for (const json& c : vectors().at("complete_cases"))
        EXPECT_EQ(outcome(c), c.at("result").get<std::string>()) << c.at("name").get<std::string>();
}

// Re-encoding what was decoded gives the reference back: every field was read, and the pairing
// message's absent device ID and signature are left out rather than written as null.
TEST(HandshakeMessages, ReferenceMessagesRoundTrip) {
    const json& v = vectors();
    EXPECT_EQ(json::parse(SecHello::decode(v.at("sec_hello").dump()).encode()), v.at("sec_hello"));
    for (const char* name : {"sec_auth_paired", "sec_auth_pairing"})
        EXPECT_EQ(json::parse(SecAuth::decode(v.at(name).dump()).encode()), v.at(name)) << name;
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

// The refusals of the crypto wrappers. What they compute, the hand-written HKDF included (the only
// length the protocol derives), is pinned byte for byte by the vectors above and the channel's.
TEST(CryptoPrimitives, X25519RefusesLowOrderAndMisSizedPeerKeys) {
    const Key32 secret = arrayFromHex<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    Key32 lowOrder{};  // u = 0 gives an all-zero shared secret
    EXPECT_THROW(KxSec::x25519(secret, lowOrder), CryptoError);
    lowOrder[0] = 1;  // u = 1 as well
    EXPECT_THROW(KxSec::x25519(secret, lowOrder), CryptoError);
    EXPECT_THROW(KxSec::x25519(secret, Bytes(31, 9)), CryptoError);
}
