#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace kx {

// A fixed set of threads that run posted jobs in arrival order, several at once. Jobs may block
// for seconds; they never run on the caller's thread. Safe to post from any thread.
class WorkerPool {
public:
    using Job = std::function<void()>;

    explicit WorkerPool(std::size_t threadCount);
    // Waits for the running jobs and drops the queued ones. When the last owner lets go from inside
    // one of the pool's own jobs, that thread is released instead of joined, and it ends after its job.
    ~WorkerPool();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // A job posted after destruction has begun is dropped. Exceptions from a job are swallowed.
    void post(Job job);
    std::size_t threadCount() const { return threads_.size(); }

private:
    struct State;
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    std::vector<std::thread> threads_;
};

}  // namespace kx
