#pragma once

#include <sched.h>
#include <sys/types.h>

#include <utility>
#include <vector>

namespace kx::bench {

// Latency rows compare two paths that each hand a message to another thread and wait for it. On a
// virtual machine, where the scheduler puts the two ends decides much of such a round trip (a
// sleeping virtual CPU takes tens of microseconds to wake, a busy one none), and it decides afresh
// every run: unplaced, one agent measured 0.4x and 4x of the same limit in two runs. While one
// lives, the calling thread, this process's other threads (an echo server) and every thread of
// the serving process (the agent) share the first core, so that both paths hand over alike and the
// difference is the agent's own work. Processes outside (the X server) are left where they are.
class CorePlacement {
public:
    explicit CorePlacement(pid_t servingProcess);
    ~CorePlacement();
    CorePlacement(const CorePlacement&) = delete;
    CorePlacement& operator=(const CorePlacement&) = delete;

private:
    std::vector<std::pair<pid_t, cpu_set_t>> pinned_;  // each thread with the cores it had
};

}  // namespace kx::bench
