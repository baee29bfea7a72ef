#pragma once

#include <array>
#include <cstdint>
#include <exception>

#include "protocol/Bytes.h"

namespace kx {

// ChaCha20-Poly1305 per direction, nonce = 4 zero bytes + 64-bit little-endian counter.
// Not thread-safe: one connection's calls run on its serial queue.
class SecureChannel {
public:
    static constexpr std::size_t maxPayload = 262144;
    static constexpr std::size_t overhead = 16;
    static constexpr std::size_t maxFrame = maxPayload + overhead;

    struct Failure : std::exception {
        enum class Case { frameTooLarge, authenticationFailed, counterExhausted, malformedFrame };
        Case which;
        std::size_t length = 0;  // frameTooLarge: the plaintext length
        explicit Failure(Case c, std::size_t len = 0) : which(c), length(len) {}
        const char* what() const noexcept override;
    };

    SecureChannel(const Key32& sendKey, const Key32& receiveKey);
    ~SecureChannel();  // wipes the keys
    SecureChannel(const SecureChannel&) = delete;
    SecureChannel& operator=(const SecureChannel&) = delete;

    // The whole frame, length prefix included. Counters move only on success. An empty plaintext
    // fails with malformedFrame, since the peer would reject its frame.
    Bytes seal(ByteView plaintext);
    Bytes open(ByteView frameBody);
    // The same into caller-owned buffers (resized to fit), which keep their capacity between
    // calls, so large frames need no fresh allocation each time. On failure their content is
    // unspecified.
    void seal(ByteView plaintext, Bytes& frame);
    void open(ByteView frameBody, Bytes& plaintext);

    static std::array<std::uint8_t, 12> nonce(std::uint64_t counter);

    std::uint64_t sendCounter() const { return sendCounter_; }
    std::uint64_t receiveCounter() const { return receiveCounter_; }

private:
    Key32 sendKey_;
    Key32 receiveKey_;
    std::uint64_t sendCounter_ = 0;
    std::uint64_t receiveCounter_ = 0;
    friend struct SecureChannelTestAccess;  // lets tests start counters near 2^64-1
};

}  // namespace kx
