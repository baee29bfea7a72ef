#include "platform/linux/input/SocketCallWatchdog.h"

#include <sys/socket.h>

#include <string>

#include "agent/support/Log.h"

namespace kx {

SocketCallWatchdog::SocketCallWatchdog(std::chrono::milliseconds limit)
    : limit_(std::chrono::nanoseconds(limit).count()), thread_([this](std::stop_token stop) { run(stop); }) {}

SocketCallWatchdog::~SocketCallWatchdog() {
    thread_.request_stop();
    thread_.join();
}

std::int64_t SocketCallWatchdog::now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SocketCallWatchdog::watch(int descriptor) {
    std::lock_guard guard(lock_);
    descriptor_ = descriptor;
}

// The count goes up before armed_ is read, and the thread clears armed_ before it reads the count
// again (all sequentially consistent): a call that starts while the thread goes to sleep is seen by
// one side or the other.
void SocketCallWatchdog::begin() {
    callStarted_.store(now());
    calls_.fetch_add(1);
    if (!armed_.load()) arm();
}

void SocketCallWatchdog::end() {
    callStarted_.store(0);
}

void SocketCallWatchdog::arm() {
    {
        std::lock_guard guard(lock_);
        armed_.store(true);
    }
    wake_.notify_one();
}

void SocketCallWatchdog::run(std::stop_token stop) {
    std::unique_lock lock(lock_);
    while (!stop.stop_requested()) {
        if (!armed_.load()) {
            wake_.wait(lock, stop, [this] { return armed_.load(); });
            continue;
        }
        const std::uint64_t seen = calls_.load();
        const std::int64_t started = callStarted_.load();
        const std::int64_t checked = now();
        if (started != 0 && checked - started >= limit_) {
            if (descriptor_ >= 0) ::shutdown(descriptor_, SHUT_RDWR);
            log::error("the display server did not answer within " + std::to_string(limit_ / 1'000'000) +
                       " ms; its connection is closed and will be opened again");
            // Once is enough: the call returns now.
            std::int64_t cut = started;
            callStarted_.compare_exchange_strong(cut, 0);
        }
        const std::int64_t deadline = (started != 0 ? started : checked) + limit_;
        wake_.wait_for(lock, stop, std::chrono::nanoseconds(deadline - checked), [] { return false; });
        // Idle for a whole period: sleep until the next call.
        if (started == 0 && callStarted_.load() == 0 && calls_.load() == seen) {
            armed_.store(false);
            if (calls_.load() != seen) armed_.store(true);
        }
    }
}

}  // namespace kx
