#pragma once

#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace kx {

// SIGINT and SIGTERM for the whole agent process. Made first, before any other thread: it blocks
// both signals (threads started later inherit that) and takes them on a thread of its own. Until
// wait() is called, a stop signal ends the process as it would by default, so that a start-up
// that hangs (a slow disk, an unanswering service) can always be interrupted; afterwards wait()
// returns it so that the agent stops cleanly.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Marks the start-up as done and waits for a stop signal; returns its number.
    int wait();

private:
    void watch();

    std::mutex lock_;
    std::condition_variable received_;
    bool started_ = false;  // wait() was called
    bool closing_ = false;  // the destructor runs
    std::optional<int> signal_;
    std::thread watcher_;
};

}  // namespace kx
