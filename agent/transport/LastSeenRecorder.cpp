#include "agent/transport/LastSeenRecorder.h"

#include <algorithm>

#include "agent/pairing/DeviceRegistry.h"
#include "agent/transport/WorkerPool.h"

namespace kx {

LastSeenRecorder::LastSeenRecorder(std::shared_ptr<DeviceRegistry> registry, std::shared_ptr<WorkerPool> workers,
                                   asio::io_context& queue)
    : registry_(std::move(registry)), workers_(workers), timer_(queue) {}

void LastSeenRecorder::record(const std::string& deviceID, std::chrono::system_clock::time_point at) {
    registry_->touch(deviceID, at);
    if (writeDue_) return;  // the write already planned takes this time too
    writeDue_ = true;
    // The first time after a quiet spell is written at once.
    timer_.expires_at(std::max(std::chrono::steady_clock::now(), lastWrite_ + writeInterval));
    timer_.async_wait([weak = weak_from_this()](const asio::error_code& error) {
        if (auto self = weak.lock(); self && !error) self->onTimer();
    });
}

void LastSeenRecorder::onTimer() {
    if (!writeDue_) return;
    writeDue_ = false;
    lastWrite_ = std::chrono::steady_clock::now();
    if (auto workers = workers_.lock()) workers->post([registry = registry_] { registry->save(); });
}

void LastSeenRecorder::writeNow() {
    if (!writeDue_) return;
    writeDue_ = false;
    timer_.cancel();
    registry_->save();
}

}  // namespace kx
