#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace kx {

// The main thread of an application with a user interface: where its model and every piece of
// interface state live. Core callbacks arrive on their own threads and hop here through post().
class MainQueue {
public:
    using Task = std::function<void()>;

    // A repeating task; cancelling it, or destroying the handle, stops it. Main thread only.
    class Repeat {
    public:
        virtual ~Repeat() = default;
        virtual void cancel() = 0;
    };

    virtual ~MainQueue() = default;
    // Runs the task on the main thread soon. Safe from any thread.
    virtual void post(Task task) = 0;
    // Runs the task on the main thread once the delay has passed on a monotonic clock. Main thread
    // only; the task should hold its owner weakly, as nothing can take it back.
    virtual void after(std::chrono::milliseconds delay, Task task) = 0;
    // Runs the task every interval until the handle is cancelled or destroyed. Main thread only.
    virtual std::unique_ptr<Repeat> every(std::chrono::milliseconds interval, Task task) = 0;
};

}  // namespace kx
