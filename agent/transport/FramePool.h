#pragma once

#include <cstddef>
#include <vector>

#include "protocol/Bytes.h"

namespace kx {

// Buffers of frames already written, kept for the next frames to be sealed into, so that a busy
// connection does not allocate (and, for large frames, map fresh pages) for every message. Holds
// at most maxBytes of capacity in all. Not thread-safe: the transport queue's thread only.
class FramePool {
public:
    static constexpr std::size_t maxBytes = 1024 * 1024;
    static constexpr std::size_t maxBuffers = 64;

    // An empty buffer, with capacity left from an earlier frame when there is one.
    Bytes take();
    void give(Bytes buffer);

private:
    std::vector<Bytes> spare_;
    std::size_t bytes_ = 0;
};

}  // namespace kx
