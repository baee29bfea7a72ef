#include "agent/transport/LastSeenRecorder.h"

#include "agent/pairing/DeviceRegistry.h"
#include "agent/transport/WorkerPool.h"

namespace kx {

LastSeenRecorder::LastSeenRecorder(std::shared_ptr<DeviceRegistry> registry, std::shared_ptr<WorkerPool> workers)
    : registry_(std::move(registry)), workers_(workers) {}

void LastSeenRecorder::record(const std::string& deviceID, std::chrono::system_clock::time_point at) {
    {
        std::lock_guard guard(lock_);
        pending_[deviceID] = at;
        if (flushing_) return;
        flushing_ = true;
    }
    if (auto workers = workers_.lock()) workers->post([self = shared_from_this()] { self->flush(); });
}

void LastSeenRecorder::flush() {
    for (;;) {
        std::map<std::string, std::chrono::system_clock::time_point> batch;
        {
            std::lock_guard guard(lock_);
            if (pending_.empty()) {
                flushing_ = false;
                return;
            }
            batch.swap(pending_);
        }
        for (const auto& [id, at] : batch) registry_->touch(id, at);
    }
}

}  // namespace kx
