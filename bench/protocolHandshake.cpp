// Handshake::complete, next to the X25519 agreement, transcript hash and HKDF it is built on.
#include <benchmark/benchmark.h>
#include <sodium.h>

#include "protocol/Handshake.h"
#include "protocol/KxSec.h"

namespace {

void handshakeComplete(benchmark::State& state) {
    const kx::Handshake agent(kx::HandshakeRole::agent);
    const kx::Handshake client(kx::HandshakeRole::client);
    const std::string peerKey = client.ephemeralPublicBase64URL();
    const std::string peerNonce = client.nonceBase64URL();
    const std::vector<std::int64_t> versions{1};
    for (auto _ : state) {
        kx::HandshakeResult result = agent.complete(peerKey, peerNonce, versions);
        benchmark::DoNotOptimize(result.channel.get());
    }
}

// Extract with the transcript as salt, then two expand blocks for the 64 bytes of keys.
void rawHKDF(const std::uint8_t* shared, const std::uint8_t* transcript, std::uint8_t* okm) {
    constexpr std::string_view info = kx::KxSec::keyInfo;
    std::uint8_t prk[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, transcript, 32);
    crypto_auth_hmacsha256_update(&state, shared, 32);
    crypto_auth_hmacsha256_final(&state, prk);
    for (std::uint8_t block = 1; block <= 2; ++block) {
        crypto_auth_hmacsha256_init(&state, prk, sizeof prk);
        if (block == 2) crypto_auth_hmacsha256_update(&state, okm, 32);
        crypto_auth_hmacsha256_update(&state, reinterpret_cast<const std::uint8_t*>(info.data()), info.size());
        crypto_auth_hmacsha256_update(&state, &block, 1);
        crypto_auth_hmacsha256_final(&state, okm + 32 * (block - 1));
    }
}

void rawAgreementAndKeys(benchmark::State& state) {
    kx::KxSec::ensureInitialized();
    std::uint8_t secret[32], peerSecret[32], peerPublic[32], shared[32], transcript[32], okm[64];
    std::uint8_t nonces[64];
    randombytes_buf(secret, sizeof secret);
    randombytes_buf(peerSecret, sizeof peerSecret);
    randombytes_buf(nonces, sizeof nonces);
    crypto_scalarmult_base(peerPublic, peerSecret);
    for (auto _ : state) {
        if (crypto_scalarmult(shared, secret, peerPublic) != 0) state.SkipWithError("low-order key");
        crypto_hash_sha256_state hash;
        crypto_hash_sha256_init(&hash);
        crypto_hash_sha256_update(&hash, peerPublic, 32);
        crypto_hash_sha256_update(&hash, nonces, sizeof nonces);
        crypto_hash_sha256_final(&hash, transcript);
        rawHKDF(shared, transcript, okm);
        benchmark::DoNotOptimize(okm);
    }
}

}  // namespace

BENCHMARK(handshakeComplete);
BENCHMARK(rawAgreementAndKeys);
