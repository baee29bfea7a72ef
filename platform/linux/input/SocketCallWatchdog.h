#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>

namespace kx {

// Puts a time limit on calls that wait on a peer through one socket. begin() and end() bracket
// each call and cost no system call while calls keep coming; a thread of its own shuts the socket
// down once a call has lasted the limit, so that the blocked read or write returns at once and the
// caller sees the peer as gone. The thread sleeps while no calls are made.
class SocketCallWatchdog {
public:
    explicit SocketCallWatchdog(std::chrono::milliseconds limit);
    ~SocketCallWatchdog();
    SocketCallWatchdog(const SocketCallWatchdog&) = delete;
    SocketCallWatchdog& operator=(const SocketCallWatchdog&) = delete;

    // The socket that calls from now on wait on; -1 for none. Once this returns, the old
    // descriptor is no longer touched and may be closed.
    void watch(int descriptor);
    void begin();
    void end();

private:
    static std::int64_t now();
    void arm();
    void run(std::stop_token stop);

    const std::int64_t limit_;                  // nanoseconds
    std::atomic<std::int64_t> callStarted_{0};  // steady clock nanoseconds; 0 outside a call
    std::atomic<std::uint64_t> calls_{0};
    std::atomic<bool> armed_{false};
    std::mutex lock_;
    std::condition_variable_any wake_;
    int descriptor_ = -1;  // under lock_
    std::jthread thread_;
};

}  // namespace kx
