#include "daemon/StopSignals.h"

#include <signal.h>

#include <cstdlib>

#include "agent/support/Log.h"

namespace kx {

namespace {

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

const char* signalName(int signal) {
    return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

// Ends the process as the signal's default action would, so the parent sees it die of it.
[[noreturn]] void endBySignal(int signal) {
    ::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace

StopSignals::StopSignals() {
    const sigset_t set = stopSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    watcher_ = std::thread([this] { watch(); });
}

StopSignals::~StopSignals() {
    bool waiting;
    {
        std::lock_guard guard(lock_);
        closing_ = true;
        waiting = !signal_;
    }
    // Wakes the watcher if it still waits; it sees closing_ and leaves the signal unanswered.
    if (waiting) ::pthread_kill(watcher_.native_handle(), SIGTERM);
    watcher_.join();
}

void StopSignals::watch() {
    const sigset_t set = stopSet();
    int received = 0;
    while (::sigwait(&set, &received) != 0) {
    }
    std::unique_lock guard(lock_);
    if (closing_) return;
    if (!started_) {
        log::info(std::string("stopping during start-up on ") + signalName(received));
        endBySignal(received);
    }
    signal_ = received;
    received_.notify_all();
}

int StopSignals::wait() {
    std::unique_lock guard(lock_);
    started_ = true;
    received_.wait(guard, [this] { return signal_.has_value(); });
    log::info(std::string("stopping on ") + signalName(*signal_));
    return *signal_;
}

}  // namespace kx
