#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

namespace kx {

class DeviceRegistry;
class WorkerPool;

// Records when a device last authenticated. The time is in the registry at once; while the
// transport runs, the file is written on a worker, not on the transport queue, and at most once per
// writeInterval, so that a phone reconnecting in a loop neither waits on the disk nor wears it.
// writeNow() writes what is left, on the calling thread, when the transport stops. Used on the
// queue's thread only.
class LastSeenRecorder : public std::enable_shared_from_this<LastSeenRecorder> {
public:
    static constexpr std::chrono::seconds writeInterval{5};

    // `queue` runs the timer that paces the writes.
    LastSeenRecorder(std::shared_ptr<DeviceRegistry> registry, std::shared_ptr<WorkerPool> workers,
                     asio::io_context& queue);

    void record(const std::string& deviceID, std::chrono::system_clock::time_point at);
    void writeNow();

private:
    void onTimer();

    std::shared_ptr<DeviceRegistry> registry_;
    std::weak_ptr<WorkerPool> workers_;
    asio::steady_timer timer_;
    bool writeDue_ = false;  // a time is recorded that no write has taken yet
    std::chrono::steady_clock::time_point lastWrite_{};
};

}  // namespace kx
