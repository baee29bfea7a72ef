#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace kx {

// Runs each control command on a thread of its own, so that a slow one never holds the others.
// The caller bounds how many run at once. Finished threads are joined when the next one starts,
// the rest by stop().
class ControlWorkers {
public:
    ControlWorkers() = default;
    ~ControlWorkers() { stop(); }
    ControlWorkers(const ControlWorkers&) = delete;
    ControlWorkers& operator=(const ControlWorkers&) = delete;

    // Starts `job` on a new thread; false once stop() has begun. Exceptions from the job are logged.
    bool run(std::function<void()> job);
    // Waits for every running job; later calls of run() start nothing.
    void stop();

private:
    struct Worker {
        std::thread thread;
        bool done = false;
    };

    std::mutex lock_;
    std::list<Worker> workers_;
    bool stopped_ = false;
};

}  // namespace kx
