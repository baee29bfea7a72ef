#include "agent/transport/SessionLanes.h"

namespace kx {

namespace {
void runGuarded(const SessionLanes::Job& job) {
    try {
        job();
    } catch (...) {
        // The job answers for itself; a stray exception must not stop its lane.
    }
}
}  // namespace

SessionLanes::SessionLanes(std::shared_ptr<WorkerPool> workers, std::function<void()> onDrained)
    : workers_(std::move(workers)), onDrained_(std::move(onDrained)) {}

void SessionLanes::post(const std::optional<std::string>& lane, Job job) {
    std::unique_lock guard(lock_);
    ++pending_;
    used_ = true;
    if (!lane) {
        guard.unlock();
        workers_->post([self = shared_from_this(), job = std::move(job)] {
            runGuarded(job);
            self->finished();
        });
        return;
    }
    auto [entry, created] = lanes_.try_emplace(*lane);
    entry->second.push_back(std::move(job));
    guard.unlock();
    if (created) workers_->post([self = shared_from_this(), lane = *lane] { self->runLane(lane); });
}

bool SessionLanes::claimIdle(const std::optional<std::string>& lane) {
    std::lock_guard guard(lock_);
    if (lane && lanes_.contains(*lane)) return false;
    used_ = true;
    return true;
}

// One job per turn on the pool, then the lane queues again behind everyone else, like a strand.
void SessionLanes::runLane(const std::string& lane) {
    Job job;
    {
        std::lock_guard guard(lock_);
        auto& jobs = lanes_.at(lane);
        job = std::move(jobs.front());
        jobs.pop_front();
    }
    runGuarded(job);
    bool more = false;
    {
        std::lock_guard guard(lock_);
        auto entry = lanes_.find(lane);
        if (entry->second.empty())
            lanes_.erase(entry);
        else
            more = true;
    }
    if (more) workers_->post([self = shared_from_this(), lane] { self->runLane(lane); });
    finished();
}

void SessionLanes::finished() {
    std::unique_lock guard(lock_);
    --pending_;
    if (closed_ && pending_ == 0 && !drained_) {
        drained_ = true;
        guard.unlock();
        onDrained_();
    }
}

void SessionLanes::close() {
    {
        std::lock_guard guard(lock_);
        if (closed_) return;
        closed_ = true;
        if (pending_ != 0 || !used_) return;
        drained_ = true;
    }
    workers_->post([self = shared_from_this()] { self->onDrained_(); });
}

}  // namespace kx
