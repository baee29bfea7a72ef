#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kx {

class DeviceRegistry;
class WorkerPool;

// Records when a device last authenticated without writing the registry file on the transport
// queue: times are collected and one worker job at a time hands them to the registry, so a burst
// of reconnections costs one file write per device rather than one per handshake.
class LastSeenRecorder : public std::enable_shared_from_this<LastSeenRecorder> {
public:
    LastSeenRecorder(std::shared_ptr<DeviceRegistry> registry, std::shared_ptr<WorkerPool> workers);

    void record(const std::string& deviceID, std::chrono::system_clock::time_point at);

private:
    void flush();

    std::shared_ptr<DeviceRegistry> registry_;
    std::weak_ptr<WorkerPool> workers_;
    std::mutex lock_;
    std::map<std::string, std::chrono::system_clock::time_point> pending_;
    bool flushing_ = false;
};

}  // namespace kx
