#pragma once

#include <atomic>
#include <mutex>

namespace kx {

// Lets a multi-step operation run without pointer or text input from other requests in between.
// Those requests look at isHeld() and drop their input instead of waiting; they never take the lock.
class InputMutex {
public:
    bool isHeld() const { return isHeld_.load(); }

    // Runs body with the mutex held; returns its result or rethrows its error.
    template <class Body>
    auto hold(Body&& body) -> decltype(body()) {
        Scope scope(*this);
        return body();
    }

private:
    // Holds lock_ and the flag for one operation; clears the flag before releasing the lock.
    class Scope {
    public:
        explicit Scope(InputMutex& m) : mutex_(m), guard_(m.lock_) { mutex_.isHeld_.store(true); }
        ~Scope() { mutex_.isHeld_.store(false); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        InputMutex& mutex_;
        std::lock_guard<std::mutex> guard_;  // released after the destructor body cleared the flag
    };

    std::mutex lock_;
    std::atomic<bool> isHeld_{false};
};

}  // namespace kx
