#include "protocol/FrameAccumulator.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace kx {

namespace {

std::uint32_t readBigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

FrameAccumulator::FrameAccumulator(std::uint32_t maxFrame) : maxFrame_(maxFrame) {}

void FrameAccumulator::append(ByteView bytes) {
    // Consumed bytes are dropped only once they outweigh what is left, so each byte is moved
    // at most a bounded number of times however the stream is chunked.
    if (start_ > 0 && start_ >= buffer_.size() - start_) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::vector<Bytes> FrameAccumulator::drain() {
    std::vector<Bytes> frames;
    while (buffer_.size() - start_ >= prefixLength) {
        const std::uint8_t* prefix = buffer_.data() + start_;
        const std::uint32_t length = readBigEndian32(prefix);
        if (length > maxFrame_) throw Failure(length);  // consumed frames stay consumed: start_ is at this prefix
        if (buffer_.size() - start_ - prefixLength < length) break;
        frames.emplace_back(prefix + prefixLength, prefix + prefixLength + length);
        start_ += prefixLength + length;
    }
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return frames;
}

std::optional<ByteView> FrameAccumulator::next() {
    // Consumed bytes are left in place (append drops them), so the view stays valid.
    if (buffer_.size() - start_ < prefixLength) return std::nullopt;
    const std::uint8_t* prefix = buffer_.data() + start_;
    const std::uint32_t length = readBigEndian32(prefix);
    if (length > maxFrame_) throw Failure(length);
    if (buffer_.size() - start_ - prefixLength < length) return std::nullopt;
    start_ += prefixLength + length;
    return ByteView(prefix + prefixLength, length);
}

std::size_t FrameAccumulator::bufferedByteCount() const {
    return buffer_.size() - start_;
}

Bytes FrameAccumulator::frame(ByteView body) {
    if (body.size() > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("frame body too long");
    const auto length = static_cast<std::uint32_t>(body.size());
    Bytes out(prefixLength + body.size());
    writeLengthPrefix(std::span<std::uint8_t, prefixLength>(out.data(), prefixLength), length);
    std::copy(body.begin(), body.end(), out.begin() + prefixLength);
    return out;
}

void FrameAccumulator::writeLengthPrefix(std::span<std::uint8_t, prefixLength> out, std::uint32_t length) {
    out[0] = static_cast<std::uint8_t>(length >> 24);
    out[1] = static_cast<std::uint8_t>(length >> 16);
    out[2] = static_cast<std::uint8_t>(length >> 8);
    out[3] = static_cast<std::uint8_t>(length);
}

}  // namespace kx
