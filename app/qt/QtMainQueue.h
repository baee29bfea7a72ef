#pragma once

#include <memory>

#include "agent/support/MainQueue.h"

namespace kx {

// The Qt event loop as the main queue. Posted tasks wait in a list of the queue's own, under a
// standard mutex, and one byte on a pipe wakes the loop to run them, so the hand-over from another
// thread is ordered by a lock the thread checker sees (Qt's posted-event list is guarded by futexes
// it cannot). Timed tasks are Qt timers (monotonic). Made on the main thread, after the application.
class QtMainQueue : public MainQueue {
public:
    // Throws std::system_error when the pipe cannot be made.
    QtMainQueue();

    void post(Task task) override;
    void after(std::chrono::milliseconds delay, Task task) override;
    std::unique_ptr<Repeat> every(std::chrono::milliseconds interval, Task task) override;

private:
    struct Inbox;
    std::shared_ptr<Inbox> inbox_;
};

}  // namespace kx
