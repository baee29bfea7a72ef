// Feeds a byte stream to FrameAccumulator in input-chosen chunks and checks the frames against a
// one-shot parse of the whole stream.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/FrameAccumulator.h"

namespace {

constexpr std::size_t headerLength = 3;  // two bytes of limit, one of chunk pattern

struct Expected {
    std::vector<kx::Bytes> frames;
    bool tooLarge = false;
};

Expected parseWhole(kx::ByteView stream, std::uint32_t maxFrame) {
    Expected out;
    std::size_t at = 0;
    while (stream.size() - at >= 4) {
        const std::uint32_t length = (std::uint32_t{stream[at]} << 24) | (std::uint32_t{stream[at + 1]} << 16) |
                                     (std::uint32_t{stream[at + 2]} << 8) | stream[at + 3];
        if (length > maxFrame) {
            out.tooLarge = true;
            return out;
        }
        if (stream.size() - at - 4 < length) break;
        out.frames.emplace_back(stream.begin() + at + 4, stream.begin() + at + 4 + length);
        at += 4 + length;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < headerLength) return 0;
    const std::uint32_t maxFrame = (std::uint32_t{data[0]} << 8) | data[1];
    const std::size_t chunkPattern = data[2];
    const kx::ByteView stream(data + headerLength, size - headerLength);
    const Expected expected = parseWhole(stream, maxFrame);

    kx::FrameAccumulator accumulator(maxFrame);
    std::vector<kx::Bytes> frames;
    bool failed = false;
    for (std::size_t at = 0, step = 0; at < stream.size() && !failed; ++step) {
        const std::size_t chunk = std::min(stream.size() - at, 1 + (chunkPattern * (step + 1)) % 64);
        accumulator.append(stream.subspan(at, chunk));
        at += chunk;
        try {
            for (kx::Bytes& frame : accumulator.drain()) frames.push_back(std::move(frame));
        } catch (const kx::FrameAccumulator::Failure& failure) {
            if (failure.declaredLength <= maxFrame) std::abort();
            failed = true;
            bool failsAgain = false;  // the offending prefix stays at the front
            try {
                accumulator.drain();
            } catch (const kx::FrameAccumulator::Failure&) {
                failsAgain = true;
            }
            if (!failsAgain) std::abort();
        }
    }
    if (failed != expected.tooLarge) std::abort();
    // Frames drained before the failing call are kept; the failing call returns none.
    if (frames.size() > expected.frames.size()) std::abort();
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (frames[i] != expected.frames[i]) std::abort();
    if (!failed && frames.size() != expected.frames.size()) std::abort();
    return 0;
}
