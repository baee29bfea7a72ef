#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "agent/transport/WorkerPool.h"

namespace kx {

// The request jobs of one session on the shared worker pool. Jobs posted to the same lane run one
// at a time in the order they were posted; jobs without a lane, and the heads of different lanes,
// run at once. A lane exists only while it has work, so there are never more lanes than jobs.
// Once closed, calls onDrained exactly once on a worker after the last accepted job has ended;
// lanes that never took a job (nor ran one through tryHere) have nothing to release, and do not call
// it. Safe from any thread.
class SessionLanes : public std::enable_shared_from_this<SessionLanes> {
public:
    using Job = WorkerPool::Job;

    SessionLanes(std::shared_ptr<WorkerPool> workers, std::function<void()> onDrained);

    // Jobs report their own failures; one that throws still ends its turn.
    void post(const std::optional<std::string>& lane, Job job);
    // No job is refused afterwards either: what the session accepted before still runs.
    void close();
    // Runs attempt on the calling thread when the lane has no job queued or running and returns
    // its result; returns an empty result without running it when the lane is busy. The attempt
    // counts as the session's work, so closing still calls onDrained. It keeps the lane's order
    // only when every post to the lane comes from the calling thread, as a session's reads do.
    template <class Attempt>
    std::invoke_result_t<Attempt> tryHere(const std::optional<std::string>& lane, Attempt&& attempt) {
        if (!claimIdle(lane)) return {};
        return attempt();
    }

private:
    bool claimIdle(const std::optional<std::string>& lane);
    void runLane(const std::string& lane);
    void finished();

    std::shared_ptr<WorkerPool> workers_;
    std::function<void()> onDrained_;
    std::mutex lock_;
    // Jobs waiting behind the one running; a lane's entry lives while one of its jobs is queued or runs.
    std::map<std::string, std::deque<Job>> lanes_;
    std::size_t pending_ = 0;  // posted and not yet ended
    bool used_ = false;        // a job was posted or run through tryHere
    bool closed_ = false;
    bool drained_ = false;
};

}  // namespace kx
