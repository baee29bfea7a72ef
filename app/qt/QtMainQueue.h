#pragma once

#include <QObject>

#include "agent/support/MainQueue.h"

namespace kx {

// The Qt event loop as the main queue: posted tasks are queued calls on the application object,
// timed ones are Qt timers (monotonic).
class QtMainQueue : public MainQueue {
public:
    void post(Task task) override;
    void after(std::chrono::milliseconds delay, Task task) override;
    std::unique_ptr<Repeat> every(std::chrono::milliseconds interval, Task task) override;
};

}  // namespace kx
