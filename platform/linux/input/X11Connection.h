#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include <X11/Xlib.h>

namespace kx {

// One connection to an X server that has the XTEST extension, shared by several threads: every use
// runs under the connection's lock. The display is opened on first use and reopened after the
// server went away; a failed attempt is retried at most once per retry interval, so callers find
// out quickly that no display is reachable. A lost server never ends the process.
class X11Connection {
public:
    static constexpr std::chrono::milliseconds retryInterval{1000};

    // Makes Xlib safe for threads and keeps its protocol and connection errors from ending the
    // process. Once per process, before any other Xlib call; every connection calls it itself.
    static void prepareXlib();

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
        fn(display_);
        afterUse();
        return true;
    }

    // Like with(), but never opens the display.
    template <class F>
    bool ifOpen(F&& fn) {
        std::lock_guard guard(lock_);
        if (!display_ || lost_) return false;
        fn(display_);
        afterUse();
        return true;
    }

    // Counts the openings of the display, so that state kept about the server can be dropped when
    // a new connection replaces the old one. Read it inside with().
    std::uint64_t generation() const { return generation_; }
    // Counts the keyboard mapping changes the server announced. Read it inside with().
    std::uint64_t mappingChanges() const { return mappingChanges_; }

private:
    bool ensureOpen();
    void close();
    // Discards the events the server sends to every client, noting keyboard mapping changes.
    void afterUse();
    static void onConnectionLost(Display* display, void* self);

    std::string displayName_;
    std::mutex lock_;
    Display* display_ = nullptr;
    bool lost_ = false;
    std::chrono::steady_clock::time_point nextAttempt_{};
    std::uint64_t generation_ = 0;
    std::uint64_t mappingChanges_ = 0;
};

}  // namespace kx
