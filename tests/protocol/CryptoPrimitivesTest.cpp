// The hand-written HKDF against RFC 5869 and the refusals of the crypto wrappers. What the
// wrappers compute is pinned byte for byte by the handshake and channel vectors.
#include <gtest/gtest.h>

#include "VectorFiles.h"
#include "protocol/KxSec.h"

using namespace kx;
using kx::test::arrayFromHex;
using kx::test::fromHex;
using kx::test::toHex;

TEST(CryptoPrimitives, HKDFMatchesRFC5869UpToItsLengthLimit) {
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

TEST(CryptoPrimitives, X25519RefusesLowOrderAndMisSizedPeerKeys) {
    const Key32 secret = arrayFromHex<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    Key32 lowOrder{};  // u = 0 gives an all-zero shared secret
    EXPECT_THROW(KxSec::x25519(secret, lowOrder), CryptoError);
    lowOrder[0] = 1;  // u = 1 as well
    EXPECT_THROW(KxSec::x25519(secret, lowOrder), CryptoError);
    EXPECT_THROW(KxSec::x25519(secret, Bytes(31, 9)), CryptoError);
}
