#include "agent/transport/WorkerPool.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace kx {

// Shared with every thread, so that a thread released from a job can finish without the pool.
struct WorkerPool::State {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<Job> jobs;
    bool stopping = false;
};

WorkerPool::WorkerPool(std::size_t threadCount) : state_(std::make_shared<State>()) {
    if (threadCount == 0) threadCount = 1;
    threads_.reserve(threadCount);
    for (std::size_t i = 0; i < threadCount; ++i) threads_.emplace_back([state = state_] { run(state); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard guard(state_->lock);
        state_->stopping = true;
        state_->jobs.clear();
    }
    state_->ready.notify_all();
    for (auto& thread : threads_) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
}

void WorkerPool::post(Job job) {
    {
        std::lock_guard guard(state_->lock);
        if (state_->stopping) return;
        state_->jobs.push_back(std::move(job));
    }
    state_->ready.notify_one();
}

void WorkerPool::run(const std::shared_ptr<State>& state) {
    for (;;) {
        Job job;
        {
            std::unique_lock guard(state->lock);
            state->ready.wait(guard, [&] { return state->stopping || !state->jobs.empty(); });
            if (state->stopping) return;
            job = std::move(state->jobs.front());
            state->jobs.pop_front();
        }
        try {
            job();
        } catch (...) {
            // A job reports its own failures; one that escapes must not end the thread.
        }
    }
}

}  // namespace kx
