// The refusals of the crypto wrappers. What they compute, the hand-written HKDF included (the only
// length the protocol derives), is pinned byte for byte by the handshake and channel vectors.
#include <gtest/gtest.h>

#include "VectorFiles.h"
#include "protocol/KxSec.h"

using namespace kx;
using kx::test::arrayFromHex;

TEST(CryptoPrimitives, X25519RefusesLowOrderAndMisSizedPeerKeys) {
    const Key32 secret = arrayFromHex<32>("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    Key32 lowOrder{};  // u = 0 gives an all-zero shared secret
    EXPECT_THROW(KxSec::x25519(secret, lowOrder), CryptoError);
    lowOrder[0] = 1;  // u = 1 as well
    EXPECT_THROW(KxSec::x25519(secret, lowOrder), CryptoError);
    EXPECT_THROW(KxSec::x25519(secret, Bytes(31, 9)), CryptoError);
}
