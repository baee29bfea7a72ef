#include "protocol/SecureChannel.h"

#include <sodium.h>

#include <limits>

#include "protocol/FrameAccumulator.h"
#include "protocol/KxSec.h"

namespace kx {

namespace {

// The last counter value is never used, so a nonce can never repeat after a wrap.
constexpr std::uint64_t exhaustedCounter = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t counterOffset = 4;  // the nonce starts with four zero bytes

}  // namespace

const char* SecureChannel::Failure::what() const noexcept {
    switch (which) {
        case Case::frameTooLarge: return "frame too large";
        case Case::authenticationFailed: return "frame authentication failed";
        case Case::counterExhausted: return "message counter exhausted";
        case Case::malformedFrame: return "malformed frame";
    }
    return "secure channel failure";
}

SecureChannel::SecureChannel(const Key32& sendKey, const Key32& receiveKey)
    : sendKey_(sendKey), receiveKey_(receiveKey) {
    KxSec::ensureInitialized();  // also selects libsodium's fastest cipher code for this CPU
}

SecureChannel::~SecureChannel() {
    sodium_memzero(sendKey_.data(), sendKey_.size());
    sodium_memzero(receiveKey_.data(), receiveKey_.size());
}

std::array<std::uint8_t, 12> SecureChannel::nonce(std::uint64_t counter) {
    std::array<std::uint8_t, 12> out{};
    for (std::size_t i = 0; i < sizeof counter; ++i)
        out[counterOffset + i] = static_cast<std::uint8_t>(counter >> (8 * i));
    return out;
}

Bytes SecureChannel::seal(ByteView plaintext) {
    Bytes frame;
    seal(plaintext, frame);
    return frame;
}

void SecureChannel::seal(ByteView plaintext, Bytes& frame) {
    if (plaintext.size() > maxPayload) throw Failure(Failure::Case::frameTooLarge, plaintext.size());
    // The receiver rejects an empty frame, so sending one could only break the connection.
    if (plaintext.empty()) throw Failure(Failure::Case::malformedFrame);
    if (sendCounter_ == exhaustedCounter) throw Failure(Failure::Case::counterExhausted);
    const std::size_t bodyLength = plaintext.size() + overhead;
    frame.resize(FrameAccumulator::prefixLength + bodyLength);
    FrameAccumulator::writeLengthPrefix(
        std::span<std::uint8_t, FrameAccumulator::prefixLength>(frame.data(), FrameAccumulator::prefixLength),
        static_cast<std::uint32_t>(bodyLength));
    KxSec::aeadSeal(std::span(frame).subspan(FrameAccumulator::prefixLength), plaintext, {}, nonce(sendCounter_),
                    sendKey_);
    ++sendCounter_;
}

Bytes SecureChannel::open(ByteView frameBody) {
    Bytes plaintext;
    open(frameBody, plaintext);
    return plaintext;
}

void SecureChannel::open(ByteView frameBody, Bytes& plaintext) {
    if (frameBody.size() <= overhead) throw Failure(Failure::Case::malformedFrame);
    if (receiveCounter_ == exhaustedCounter) throw Failure(Failure::Case::counterExhausted);
    plaintext.resize(frameBody.size() - overhead);
    if (!KxSec::aeadOpen(plaintext, frameBody, {}, nonce(receiveCounter_), receiveKey_))
        throw Failure(Failure::Case::authenticationFailed);
    ++receiveCounter_;
}

}  // namespace kx
