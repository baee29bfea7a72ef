// Sealing and opening through SecureChannel, next to the bare libsodium AEAD calls it wraps.
#include <benchmark/benchmark.h>
#include <sodium.h>

#include "protocol/FrameAccumulator.h"
#include "protocol/KxSec.h"
#include "protocol/SecureChannel.h"

namespace {

constexpr kx::Key32 keyA{1, 2, 3};
constexpr kx::Key32 keyB{4, 5, 6};

void channelSealOpen(benchmark::State& state) {
    kx::SecureChannel sender(keyA, keyB);
    kx::SecureChannel receiver(keyB, keyA);
    const kx::Bytes payload(static_cast<std::size_t>(state.range(0)), 0x61);
    for (auto _ : state) {
        const kx::Bytes frame = sender.seal(payload);
        kx::Bytes plaintext = receiver.open(kx::ByteView(frame).subspan(kx::FrameAccumulator::prefixLength));
        benchmark::DoNotOptimize(plaintext.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// The overloads that reuse the caller's buffers: no allocation per frame.
void channelSealOpenReusingBuffers(benchmark::State& state) {
    kx::SecureChannel sender(keyA, keyB);
    kx::SecureChannel receiver(keyB, keyA);
    const kx::Bytes payload(static_cast<std::size_t>(state.range(0)), 0x61);
    kx::Bytes frame, plaintext;
    for (auto _ : state) {
        sender.seal(payload, frame);
        receiver.open(kx::ByteView(frame).subspan(kx::FrameAccumulator::prefixLength), plaintext);
        benchmark::DoNotOptimize(plaintext.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void rawAEADSealOpen(benchmark::State& state) {
    kx::KxSec::ensureInitialized();
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const kx::Bytes payload(size, 0x61);
    kx::Bytes sealed(size + crypto_aead_chacha20poly1305_ietf_ABYTES);
    kx::Bytes opened(size);
    std::uint64_t counter = 0;
    for (auto _ : state) {
        const auto nonce = kx::SecureChannel::nonce(counter++);
        unsigned long long length = 0;
        crypto_aead_chacha20poly1305_ietf_encrypt(sealed.data(), &length, payload.data(), size, nullptr, 0, nullptr,
                                                  nonce.data(), keyA.data());
        if (crypto_aead_chacha20poly1305_ietf_decrypt(opened.data(), &length, nullptr, sealed.data(), sealed.size(),
                                                      nullptr, 0, nonce.data(), keyA.data()) != 0)
            state.SkipWithError("tag did not verify");
        benchmark::DoNotOptimize(opened.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

constexpr std::int64_t smallPayload = 64;
constexpr std::int64_t mediumPayload = 1024;
constexpr std::int64_t largestPayload = kx::SecureChannel::maxPayload;

}  // namespace

BENCHMARK(channelSealOpen)->Arg(smallPayload)->Arg(mediumPayload)->Arg(largestPayload);
BENCHMARK(channelSealOpenReusingBuffers)->Arg(smallPayload)->Arg(mediumPayload)->Arg(largestPayload);
BENCHMARK(rawAEADSealOpen)->Arg(smallPayload)->Arg(mediumPayload)->Arg(largestPayload);
