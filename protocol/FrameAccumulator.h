#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <vector>

#include "protocol/Bytes.h"

namespace kx {

// Turns arbitrary chunks of a TCP stream into whole length-prefixed frames (4-byte big-endian
// length, then the body), refusing an oversized frame on its prefix alone.
class FrameAccumulator {
public:
    struct Failure : std::exception {
        std::uint32_t declaredLength;  // frameTooLarge
        explicit Failure(std::uint32_t length) : declaredLength(length) {}
        const char* what() const noexcept override { return "frame too large"; }
    };

    static constexpr std::size_t prefixLength = 4;

    explicit FrameAccumulator(std::uint32_t maxFrame);

    void append(ByteView bytes);
    // Complete bodies in arrival order; throws Failure (and returns nothing) on an oversized prefix.
    std::vector<Bytes> drain();
    // The next complete body, consumed, without a copy: it stays valid until the next append.
    // Throws Failure on an oversized prefix (the bodies before it were already returned).
    std::optional<ByteView> next();
    std::size_t bufferedByteCount() const;

    // Prefix a body for sending.
    static Bytes frame(ByteView body);
    static void writeLengthPrefix(std::span<std::uint8_t, prefixLength> out, std::uint32_t length);

private:
    Bytes buffer_;
    std::size_t start_ = 0;  // consumed bytes at the front of buffer_
    std::uint32_t maxFrame_;
};

}  // namespace kx
