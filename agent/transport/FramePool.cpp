#include "agent/transport/FramePool.h"

namespace kx {

Bytes FramePool::take() {
    if (spare_.empty()) return {};
    Bytes buffer = std::move(spare_.back());
    spare_.pop_back();
    bytes_ -= buffer.capacity();
    buffer.clear();
    return buffer;
}

void FramePool::give(Bytes buffer) {
    if (buffer.capacity() == 0 || spare_.size() >= maxBuffers || bytes_ + buffer.capacity() > maxBytes) return;
    bytes_ += buffer.capacity();
    spare_.push_back(std::move(buffer));
}

}  // namespace kx
