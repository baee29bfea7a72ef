#include "daemon/ControlWorkers.h"

#include <exception>

#include "agent/support/Log.h"

namespace kx {

bool ControlWorkers::run(std::function<void()> job) {
    std::list<Worker> finished;
    {
        std::lock_guard guard(lock_);
        if (stopped_) return false;
        for (auto it = workers_.begin(); it != workers_.end();) {
            auto next = std::next(it);
            if (it->done) finished.splice(finished.end(), workers_, it);
            it = next;
        }
        Worker& worker = workers_.emplace_back();
        worker.thread = std::thread([this, &worker, job = std::move(job)] {
            try {
                job();
            } catch (const std::exception& error) {
                log::error(std::string("control: a command failed: ") + error.what());
            } catch (...) {
                log::error("control: a command failed");
            }
            std::lock_guard done(lock_);
            worker.done = true;
        });
    }
    for (auto& worker : finished) worker.thread.join();
    return true;
}

void ControlWorkers::stop() {
    std::list<Worker> running;
    {
        std::lock_guard guard(lock_);
        stopped_ = true;
        running.swap(workers_);
    }
    for (auto& worker : running) worker.thread.join();
}

}  // namespace kx
