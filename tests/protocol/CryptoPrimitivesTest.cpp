// The crypto wrappers against the published test vectors of the underlying standards.
#include <gtest/gtest.h>

#include "VectorFiles.h"
#include "protocol/KxSec.h"

using namespace kx;
using kx::test::arrayFromHex;
using kx::test::fromHex;
using kx::test::toHex;

TEST(CryptoPrimitives, X25519MatchesRFC7748) {
    struct Case {
        const char* scalar;
        const char* u;
        const char* out;
    };
    // Section 5.2; the second u-coordinate has its top bit set, which X25519 must ignore.
    for (const Case& c : {Case{"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
                               "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
                               "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
                          Case{"4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
                               "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
                               "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"}}) {
        EXPECT_EQ(toHex(KxSec::x25519(arrayFromHex<32>(c.scalar), fromHex(c.u))), c.out);
    }
    // Section 6.1: both parties derive the same secret.
    const Key32 alice = arrayFromHex<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const Key32 bob = arrayFromHex<32>("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    const Key32 alicePublic = KxSec::x25519PublicKey(alice);
    const Key32 bobPublic = KxSec::x25519PublicKey(bob);
    EXPECT_EQ(toHex(alicePublic), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(toHex(bobPublic), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    const char* shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
    EXPECT_EQ(toHex(KxSec::x25519(alice, bobPublic)), shared);
    EXPECT_EQ(toHex(KxSec::x25519(bob, alicePublic)), shared);
}

TEST(CryptoPrimitives, X25519RefusesLowOrderAndMisSizedPeerKeys) {
    const Key32 secret = arrayFromHex<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    Key32 lowOrder{};  // u = 0 gives an all-zero shared secret
    EXPECT_THROW(KxSec::x25519(secret, lowOrder), CryptoError);
    lowOrder[0] = 1;  // u = 1 as well
    EXPECT_THROW(KxSec::x25519(secret, lowOrder), CryptoError);
    EXPECT_THROW(KxSec::x25519(secret, Bytes(31, 9)), CryptoError);
}

TEST(CryptoPrimitives, Ed25519MatchesRFC8032) {
    struct Case {
        const char* seed;
        const char* publicKey;
        const char* message;
        const char* signature;
    };
    const Case cases[] = {
        {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
         "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
         "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bb"
         "e24655141438e7a100b"},
        {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
         "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
         "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302"
         "aeeb00d291612bb0c00"},
        {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
         "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
         "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed"
         "28dc027beceea1ec40a"},
    };
    for (const Case& c : cases) {
        const SigningKey key = SigningKey::fromSeed(arrayFromHex<32>(c.seed));
        EXPECT_EQ(toHex(key.publicKey), c.publicKey);
        const Bytes message = fromHex(c.message);
        const Signature64 signature = KxSec::signMessage(message, key);
        EXPECT_EQ(toHex(signature), c.signature);
        EXPECT_TRUE(KxSec::verifyMessage(signature, message, key.publicKey));
        Bytes altered = message;
        altered.push_back(0);
        EXPECT_FALSE(KxSec::verifyMessage(signature, altered, key.publicKey));
        EXPECT_FALSE(KxSec::verifyMessage(ByteView(signature).first(63), message, key.publicKey));
    }
}

TEST(CryptoPrimitives, HKDFMatchesRFC5869) {
    Bytes longIKM, longSalt, longInfo;
    for (int i = 0; i < 80; ++i) {
        longIKM.push_back(static_cast<std::uint8_t>(i));
        longSalt.push_back(static_cast<std::uint8_t>(0x60 + i));
        longInfo.push_back(static_cast<std::uint8_t>(0xb0 + i));
    }
    const Bytes shortIKM(22, 0x0b);
    EXPECT_EQ(
        toHex(KxSec::hkdfSHA256(shortIKM, fromHex("000102030405060708090a0b0c"), fromHex("f0f1f2f3f4f5f6f7f8f9"), 42)),
        "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");
    EXPECT_EQ(toHex(KxSec::hkdfSHA256(longIKM, longSalt, longInfo, 82)),
              "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09"
              "da3275600c2f09b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87");
    EXPECT_EQ(toHex(KxSec::hkdfSHA256(shortIKM, {}, {}, 42)),
              "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8");
    EXPECT_EQ(KxSec::hkdfSHA256(shortIKM, {}, {}, 255 * 32).size(), 255u * 32);
    EXPECT_THROW(KxSec::hkdfSHA256(shortIKM, {}, {}, 255 * 32 + 1), CryptoError);
}

TEST(CryptoPrimitives, ChaCha20Poly1305MatchesRFC8439) {
    const Key32 key = arrayFromHex<32>("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
    const auto nonce = arrayFromHex<12>("070000004041424344454647");
    const Bytes aad = fromHex("50515253c0c1c2c3c4c5c6c7");
    const std::string_view plaintext =
        "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the future, sunscreen would "
        "be it.";
    Bytes sealed(plaintext.size() + KxSec::aeadTagLength);
    KxSec::aeadSeal(sealed, asBytes(plaintext), aad, nonce, key);
    EXPECT_EQ(toHex(sealed),
              "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb69da92728b"
              "1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc"
              "3ff4def08e4b7a9de576d26586cec64b6116"
              "1ae10b594f09e26a7e902ecbd0600691");
    Bytes opened(plaintext.size());
    ASSERT_TRUE(KxSec::aeadOpen(opened, sealed, aad, nonce, key));
    EXPECT_EQ(asText(opened), plaintext);
    EXPECT_FALSE(KxSec::aeadOpen(opened, sealed, {}, nonce, key));  // associated data is authenticated
    sealed.back() ^= 1;
    EXPECT_FALSE(KxSec::aeadOpen(opened, sealed, aad, nonce, key));
}
