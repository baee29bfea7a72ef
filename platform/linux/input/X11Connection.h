#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include <X11/Xlib.h>

#include "platform/linux/input/SocketCallWatchdog.h"

namespace kx {

// One connection to an X server that has the XTEST extension, shared by several threads: every use
// runs under the connection's lock. The display is opened on first use and reopened after the
// server went away; a failed attempt is retried at most once per retry interval, so callers find
// out quickly that no display is reachable. A lost server never ends the process. Every use has a
// time limit: a server that stops answering loses its connection, and the use returns.
class X11Connection {
public:
    static constexpr std::chrono::milliseconds retryInterval{1000};
    static constexpr std::chrono::milliseconds callTimeLimit{2000};

    // An empty name means the display named by $DISPLAY.
    explicit X11Connection(std::string displayName = {});
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    // Runs fn(Display*) with the lock held, opening the display if needed. Returns false, without
    // calling fn, when no display with XTEST can be reached.
    template <class F>
    bool with(F&& fn) {
        std::lock_guard guard(lock_);
        if (!ensureOpen()) return false;
        Watched watched(watchdog_);
        fn(display_);
        afterUse();
        return true;
    }

    // Like with(), but never opens the display.
    template <class F>
    bool ifOpen(F&& fn) {
        std::lock_guard guard(lock_);
        if (!display_ || lost_) return false;
        Watched watched(watchdog_);
        fn(display_);
        afterUse();
        return true;
    }

    // Runs fn() with the lock held when no other thread holds it and the display is open; returns
    // false at once otherwise. Meanwhile with() on this thread uses the display without opening it.
    template <class F>
    bool tryHold(F&& fn) {
        std::unique_lock guard(lock_, std::try_to_lock);
        if (!guard || !display_ || lost_ || holding_) return false;
        Holding holding(holding_);
        fn();
        return true;
    }

    // Counts the openings of the display, so that state kept about the server can be dropped when
    // a new connection replaces the old one. Read it inside with().
    std::uint64_t generation() const { return generation_; }
    // Counts the keyboard mapping changes the server announced. Read it inside with().
    std::uint64_t mappingChanges() const { return mappingChanges_; }

private:
    struct Watched {
        explicit Watched(SocketCallWatchdog& watchdog) : watchdog_(watchdog) { watchdog_.begin(); }
        ~Watched() { watchdog_.end(); }
        SocketCallWatchdog& watchdog_;
    };
    struct Holding {
        explicit Holding(bool& flag) : flag_(flag) { flag_ = true; }
        ~Holding() { flag_ = false; }
        bool& flag_;
    };

    bool ensureOpen();
    void close();
    // Discards the events the server sends to every client, noting keyboard mapping changes.
    void afterUse();

    std::string displayName_;
    // Recursive for tryHold(), whose work calls with().
    std::recursive_mutex lock_;
    Display* display_ = nullptr;
    bool lost_ = false;
    bool holding_ = false;  // inside tryHold(): the display is not opened
    std::chrono::steady_clock::time_point nextAttempt_{};
    std::uint64_t generation_ = 0;
    std::uint64_t mappingChanges_ = 0;
    SocketCallWatchdog watchdog_{callTimeLimit};
};

}  // namespace kx
